#include "printout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace zavtool {

namespace {

constexpr std::uint8_t ESC = 0x1B;

// Small deterministic generator (xorshift32) so every platform prints the
// same printout for the same seed.
class Random {
  public:
    explicit Random(std::uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // Uniform in [0, 1).
    double Unit() { return (Next() >> 8) / 16777216.0; }

  private:
    std::uint32_t state_;
};

class Printer {
  public:
    Printer(std::vector<std::uint8_t>& out, std::string* text) : out_(out), text_(text) {}
    void Bytes(std::initializer_list<std::uint8_t> b) { out_.insert(out_.end(), b); }
    void Line(const std::string& line) {
        out_.insert(out_.end(), line.begin(), line.end());
        Bytes({'\r', '\n'});
        if (text_)
            text_->append(line).append("\n");
    }
    void FormFeed(bool last) {
        Bytes({'\f'});
        if (text_ && !last)
            text_->append("\f");
    }
    void BitImage(const std::vector<std::uint8_t>& columns) {
        const auto k = static_cast<std::uint32_t>(columns.size());
        Bytes({ESC, 'K', static_cast<std::uint8_t>(k & 0xFF), static_cast<std::uint8_t>(k >> 8)});
        out_.insert(out_.end(), columns.begin(), columns.end());
        Bytes({'\r', '\n'});
    }

  private:
    std::vector<std::uint8_t>& out_;
    std::string* text_;
};

template <typename... Args> std::string Format(const char* fmt, Args... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

// The plotted curve: a damped oscillation with some noise, framed by axes and
// tick marks; drawn into a dot grid and cut into 8-dot bands.
void PlotCurve(Printer& printer, const PrintoutOptions& o, Random& rnd, int page) {
    const int width = std::max(o.plotColumns, 16);
    const int height = std::max(o.plotBands, 1) * 8;
    std::vector<std::vector<bool>> dots(height, std::vector<bool>(width, false));
    const int axisX = 4;
    const int axisY = height - 2;
    for (int y = 0; y <= axisY; ++y)
        dots[y][axisX] = true;
    for (int x = axisX; x < width; ++x)
        dots[axisY][x] = true;
    for (int x = axisX; x < width; x += 30)
        for (int t = 1; t <= 2 && axisY + t < height; ++t)
            dots[axisY + t][x] = true;
    for (int y = axisY; y >= 0; y -= 16)
        dots[y][axisX - 1] = dots[y][axisX - 2] = true;

    const double decay = 2.0 + 0.5 * page;
    const double cycles = 3.0 + rnd.Unit() * 2.0;
    int previous = -1;
    for (int x = axisX + 1; x < width; ++x) {
        const double t = double(x - axisX) / double(width - axisX);
        const double v = std::exp(-decay * t) * std::cos(2 * 3.14159265358979 * cycles * t) +
                         (rnd.Unit() - 0.5) * 0.04;
        int y = int(std::lround((axisY - 2) * (0.5 - 0.45 * v)));
        y = std::clamp(y, 0, axisY - 1);
        const int from = previous < 0 ? y : std::min(previous, y);
        const int to = previous < 0 ? y : std::max(previous, y);
        for (int yy = from; yy <= to; ++yy)
            dots[yy][x] = true;
        previous = y;
    }

    printer.Bytes({ESC, '3', 24});
    for (int band = 0; band < height / 8; ++band) {
        std::vector<std::uint8_t> columns(width, 0);
        for (int x = 0; x < width; ++x)
            for (int row = 0; row < 8; ++row)
                if (dots[band * 8 + row][x])
                    columns[x] |= static_cast<std::uint8_t>(0x80 >> row);
        printer.BitImage(columns);
    }
    printer.Bytes({ESC, '2'});
}

} // namespace

std::vector<std::uint8_t> GeneratePrintout(const PrintoutOptions& o, std::string* text) {
    std::vector<std::uint8_t> out;
    if (text)
        text->clear();
    Printer p(out, text);
    Random rnd(o.seed);
    const unsigned serial = 10000 + rnd.Next() % 90000;
    for (int page = 1; page <= o.pages; ++page) {
        p.Bytes({ESC, '@'});
        p.Line("ZAV LAB ANALYZER 4100            MEASUREMENT REPORT");
        p.Line(Format("Serial no. %05u    Run %03d    Page %d of %d", serial, 40 + page, page,
                      o.pages));
        p.Line(Format("Date 2026-12-%02d  Time %02d:%02u", 1 + page % 28, 8 + page % 10,
                      rnd.Next() % 60));
        p.Line("Method: DECAY-CURVE    Sample: BUFFER PH 7.0");
        p.Line("--------------------------------------------------");
        p.Bytes({ESC, 'J', 18});
        p.Line(" No.  Time[s]   Temp[C]   Value[mV]   Status");
        double value = 800 + rnd.Unit() * 100;
        for (int row = 1; row <= o.tableRows; ++row) {
            value *= 0.9 + rnd.Unit() * 0.08;
            const double temp = 21.5 + rnd.Unit() * 1.5;
            p.Line(Format(" %3d  %7.1f   %7.2f   %9.3f   %s", row, row * 12.5, temp, value,
                          value > 150 ? "OK" : "LO"));
        }
        p.Bytes({ESC, 'J', 24});
        p.Line("Signal [mV] over time [s]:");
        PlotCurve(p, o, rnd, page);
        p.Line(Format("  0 s%*s%.0f s", 40, "", o.tableRows * 12.5));
        p.Bytes({ESC, 'J', 36});
        p.Line(Format("Result: decay constant %.3f 1/s", 0.05 + rnd.Unit() * 0.02));
        p.Line("Signature: ______________________");
        p.FormFeed(page == o.pages);
    }
    return out;
}

} // namespace zavtool
