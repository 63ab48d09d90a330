// Types words into the search box of an index page in headless Chromium, as a
// user does, and tells what the page then shows. Chromium is driven over its
// DevTools protocol on a pipe (--remote-debugging-pipe): no server, no
// network, no package beyond Node itself.
//
//   node index_search.js CHROMIUM INDEX.html PROFILE [--screenshot PNG] QUERY...
//
// Prints one line for opening the page,
//   open <TAB> ms until the load event <TAB> rows <TAB> ms until its words are ready
// then one line for each query, typed one character at a time into the empty
// box,
//   QUERY <TAB> rows shown <TAB> ms of the last keystroke's search <TAB> found text
//         <TAB> the line shown in the first row shown <TAB> the line the last row
//         shown shows once it is scrolled into view
// where the search's time runs from the input event to the page laid out
// again. With --screenshot the page is photographed after the last query.
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const path = require('path');

const [chromium, index, profile, ...rest] = process.argv.slice(2);
let screenshot = null;
if (rest[0] === '--screenshot') {
    screenshot = rest[1];
    rest.splice(0, 2);
}
const queries = rest;

const browser = spawn(chromium, [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--no-first-run',
    '--disable-background-networking', '--disable-extensions', '--hide-scrollbars',
    '--user-data-dir=' + profile, '--remote-debugging-pipe', 'about:blank',
], { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
const toBrowser = browser.stdio[3];
const fromBrowser = browser.stdio[4];

let nextId = 1;
const waiting = new Map();
const listeners = [];
let received = Buffer.alloc(0);
fromBrowser.on('data', (chunk) => {
    received = Buffer.concat([received, chunk]);
    for (let end; (end = received.indexOf(0)) >= 0; received = received.subarray(end + 1)) {
        const message = JSON.parse(received.subarray(0, end).toString('utf8'));
        if (message.id && waiting.has(message.id)) {
            const { resolve, reject } = waiting.get(message.id);
            waiting.delete(message.id);
            if (message.error)
                reject(new Error(JSON.stringify(message.error)));
            else
                resolve(message.result);
        } else {
            for (const listener of listeners.slice())
                listener(message);
        }
    }
});

function send(method, params = {}, sessionId = undefined) {
    const id = nextId++;
    const message = { id, method, params };
    if (sessionId)
        message.sessionId = sessionId;
    toBrowser.write(JSON.stringify(message) + '\0');
    return new Promise((resolve, reject) => waiting.set(id, { resolve, reject }));
}

function nextEvent(method, sessionId) {
    return new Promise((resolve) => {
        const listener = (message) => {
            if (message.method === method && message.sessionId === sessionId) {
                listeners.splice(listeners.indexOf(listener), 1);
                resolve(message.params);
            }
        };
        listeners.push(listener);
    });
}

async function main() {
    const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
    const page = (method, params) => send(method, params, sessionId);
    const evaluate = async (expression) =>
        (await page('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true }))
            .result.value;
    await page('Page.enable');
    await page('Emulation.setDeviceMetricsOverride',
               { width: 1100, height: 900, deviceScaleFactor: 1, mobile: false });

    const loaded = nextEvent('Page.loadEventFired', sessionId);
    await page('Page.navigate', { url: 'file://' + path.resolve(index) });
    await loaded;
    const opened = await evaluate(
        "Math.round(performance.getEntriesByType('navigation')[0].loadEventEnd) + '\\t' + " +
        "document.querySelectorAll('tr.capture').length");
    // The page loads the words of its printouts once it is up.
    const ready = await evaluate(
        "(async function () { for (var n = 0; n < 600 && !window.zavWordsReady; n++)" +
        " await new Promise(function (r) { setTimeout(r, 50); });" +
        " return Math.round(window.zavWordsReady || -1); })()");
    console.log('open\t' + opened + '\t' + ready);

    // After the page's own handler: the time from the input event to the page
    // laid out again.
    await evaluate("window.zavTimes = []; var box = document.getElementById('search'); " +
                   "box.addEventListener('input', function (e) { document.body.offsetHeight; " +
                   "zavTimes.push(performance.now() - e.timeStamp); }); box.focus(); true");
    for (const query of queries) {
        await evaluate("box.value = ''; box.dispatchEvent(new Event('input')); zavTimes = []; true");
        for (const c of query)
            await page('Input.insertText', { text: c });
        const result = await evaluate(
            "(function () { var shown = document.querySelectorAll('tr.capture:not([hidden])');" +
            " var note = shown.length ? shown[0].querySelector('div.line') : null;" +
            " return [shown.length, Math.round(zavTimes[zavTimes.length - 1] * 10) / 10," +
            " document.getElementById('found').textContent," +
            " note ? note.textContent : ''].join('\\t'); })()");
        const lastLine = await evaluate(
            "(async function () { var shown = document.querySelectorAll('tr.capture:not([hidden])');" +
            " if (!shown.length) return ''; var last = shown[shown.length - 1]; last.scrollIntoView();" +
            " for (var n = 0; n < 20 && !last.querySelector('div.line'); n++)" +
            "   await new Promise(function (r) { setTimeout(r, 50); });" +
            " var note = last.querySelector('div.line'); window.scrollTo(0, 0);" +
            " return note ? note.textContent : ''; })()");
        console.log(query + '\t' + result + '\t' + lastLine);
    }
    if (screenshot) {
        const { data } = await page('Page.captureScreenshot', { format: 'png' });
        fs.writeFileSync(screenshot, Buffer.from(data, 'base64'));
    }
    await send('Browser.close').catch(() => {});
}

const timer = setTimeout(() => {
    console.error('index_search.js: the browser did not answer in time');
    browser.kill('SIGKILL');
    process.exit(1);
}, 300000);
main().then(() => {
    clearTimeout(timer);
    browser.kill();
}, (error) => {
    console.error('index_search.js: ' + error.message);
    browser.kill('SIGKILL');
    process.exit(1);
});
