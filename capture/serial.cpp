#include "capture/serial.h"

#include <chrono>
#include <thread>

namespace zav {

void SerialCableLine::SleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace zav
