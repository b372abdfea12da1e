#include "lightcurve/Stopwatch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <utility>

#include "dornel/conversions.h"
#include "lightcurve/mappend.h"

namespace {

long calendarSeconds()
{
    return static_cast<long>(std::time(nullptr));
}

long processorTicks()
{
    return std::lround(static_cast<double>(std::clock()) * (1.0e6 / CLOCKS_PER_SEC));
}

// Duration of lap n: its reading minus that of the lap before, or minus the
// reading at the start for lap 1.
long lapDuration(const orv::MArray<long, 1> &laps, long start, int n)
{
    return n == 1 ? laps(1) - start : laps(n) - laps(n - 1);
}

} // namespace

Stopwatch::Stopwatch(std::string name_)
    : Stopwatch(std::move(name_), calendarSeconds, processorTicks)
{
}

Stopwatch::Stopwatch(std::string name_, Clock real, Clock cpu)
    : name(std::move(name_)), real_clock(std::move(real)), cpu_clock(std::move(cpu))
{
    reset();
}

void Stopwatch::reset()
{
    // One element each, filled by the first lap; later laps append.
    lap_cpu.makeReference(orv::MArray<long, 1>(1));
    lap_real.makeReference(orv::MArray<long, 1>(1));
    lap_label.makeReference(orv::MArray<std::string, 1>(1));
    lap_cpu(1) = 0;
    lap_real(1) = 0;
    start_cpu = pause_cpu = paused_cpu = end_cpu = 0;
    start_real = pause_real = paused_real = end_real = 0;
    number_laps = 0;
    started = running = paused = false;
}

void Stopwatch::fail(const std::string &what) const
{
    std::cerr << what << std::endl << std::endl;
    std::exit(-1);
}

void Stopwatch::requireRunning() const
{
    if (!running)
        fail("error: stopwatch " + name + " not running!");
}

void Stopwatch::requireStarted() const
{
    if (!started)
        fail("error: stopwatch " + name + " not started yet!");
}

void Stopwatch::requireStopped() const
{
    requireStarted();
    if (running)
        fail("error: stopwatch " + name + " stil running!");
}

void Stopwatch::requireLap(int n) const
{
    requireStarted();
    if (n < 1 || n > number_laps)
        fail("error: lap out of range (" + std::to_string(n) + "), only " +
             std::to_string(number_laps) + " laps taken!");
}

void Stopwatch::start()
{
    if (started || running)
        fail("error: stopwatch " + name + " already in use, reset first!");
    start_real = real_clock();
    start_cpu = cpu_clock();
    started = running = true;
}

void Stopwatch::pause()
{
    requireRunning();
    if (paused)
        fail("error: stopwatch " + name + " already paused!");
    pause_real = real_clock();
    pause_cpu = cpu_clock();
    paused = true;
}

void Stopwatch::resume()
{
    requireRunning();
    if (!paused)
        fail("error: stopwatch " + name + " not paused!");
    paused_real += real_clock() - pause_real;
    paused_cpu += cpu_clock() - pause_cpu;
    paused = false;
}

void Stopwatch::lap(std::string label)
{
    requireRunning();
    const long real = real_clock();
    record(real, cpu_clock(), label);
}

void Stopwatch::stop(std::string label)
{
    requireRunning();
    end_real = real_clock();
    end_cpu = cpu_clock();
    if (paused) {
        paused_real += end_real - pause_real;
        paused_cpu += end_cpu - pause_cpu;
        paused = false;
    }
    record(end_real, end_cpu, label);
    running = false;
}

void Stopwatch::record(long real, long cpu, const std::string &label)
{
    if (number_laps == 0) {
        lap_real(1) = real;
        lap_cpu(1) = cpu;
        lap_label(1) = label;
    } else {
        mappend(lap_real, real);
        mappend(lap_cpu, cpu);
        mappend(lap_label, label);
    }
    ++number_laps;
}

int Stopwatch::getNumberLaps() const
{
    return number_laps;
}

long Stopwatch::getStart() const
{
    requireStarted();
    return start_real;
}

long Stopwatch::getStart_CPU() const
{
    requireStarted();
    return start_cpu;
}

long Stopwatch::getEnd() const
{
    requireStopped();
    return end_real;
}

long Stopwatch::getEnd_CPU() const
{
    requireStopped();
    return end_cpu;
}

long Stopwatch::getTotalTime() const
{
    requireStopped();
    return end_real - start_real - paused_real;
}

long Stopwatch::getTotalTime_CPU() const
{
    requireStopped();
    return end_cpu - start_cpu - paused_cpu;
}

long Stopwatch::getLapTime(int n) const
{
    requireLap(n);
    return lap_real(n);
}

long Stopwatch::getLapTime_CPU(int n) const
{
    requireLap(n);
    return lap_cpu(n);
}

long Stopwatch::getLap(int n) const
{
    requireLap(n);
    return lapDuration(lap_real, start_real, n);
}

long Stopwatch::getLap_CPU(int n) const
{
    requireLap(n);
    return lapDuration(lap_cpu, start_cpu, n);
}

std::string Stopwatch::getTimeString(long seconds)
{
    const long hours = (seconds / 3600) % 24;
    const long minutes = static_cast<long>((seconds - 3600 * std::floor(seconds / 3600.0)) / 60.0);
    const long rest = seconds % 60;
    return int2str(static_cast<int>(hours), 2) + ":" + int2str(static_cast<int>(minutes), 2) + ":" +
           int2str(static_cast<int>(rest), 2);
}

std::string Stopwatch::getTimeString_CPU(long ticks)
{
    return getTimeString(ticks / 1000000);
}

std::string Stopwatch::getTimeString_full(long time)
{
    // asctime's layout, written here: asctime itself shares a static buffer
    // and overruns it beyond the year 9999.
    static const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr)
        return "";
    std::ostringstream text;
    text << kDays[tm.tm_wday] << ' ' << kMonths[tm.tm_mon] << ' ' << std::setw(2) << tm.tm_mday
         << ' ' << std::setfill('0') << std::setw(2) << tm.tm_hour << ':' << std::setw(2)
         << tm.tm_min << ':' << std::setw(2) << tm.tm_sec << ' ' << 1900L + tm.tm_year << '\n';
    return text.str();
}

void Stopwatch::printStatus() const
{
    std::ostream &out = std::cout;
    int w = 15;
    if (number_laps >= 2)
        for (int n = 1; n <= number_laps; ++n)
            w = std::max(w, static_cast<int>(lap_label(n).size()));
    const int width = w + 40;
    const std::string stars(width + 2, '*');
    const std::string blanks(width, ' ');
    // A line of the box: the text, blanks up to the right edge, the frame.
    const auto framed = [&](const std::string &text) {
        const int fill = width + 1 - static_cast<int>(text.size());
        out << text << std::string(std::max(fill, 0), ' ') << "*" << std::endl;
    };
    const std::ios::fmtflags adjust = out.flags() & std::ios::adjustfield;
    out << std::right;

    out << std::endl << stars << std::endl;
    framed("* stopwatch " + name);
    out << stars << std::endl;
    const char *state = running ? "running (" : started ? "stopped (" : "ready (";
    framed("* status: " + std::string(state) + std::to_string(number_laps) + " laps)");
    if (number_laps >= 2) {
        out << "*" << blanks << "*" << std::endl;
        framed("* number         real            CPU");
        out << "* " << std::string(width - 2, '-') << " *" << std::endl;
        for (int n = 1; n <= number_laps; ++n)
            out << "* " << std::setw(6) << n << " " << std::setw(12) << getTimeString(getLap(n))
                << " " << std::setw(13) << std::setprecision(6) << getLap_CPU(n) / 1e6 << "s    "
                << std::setw(w) << lap_label(n) << " *" << std::endl;
        out << "*" << blanks << "*" << std::endl;
    }
    if (started && !running) {
        out << stars << std::endl;
        // Formatted apart so that a wide number moves the frame's blanks, not
        // the frame.
        std::ostringstream cpu;
        cpu.copyfmt(out);
        cpu << std::setw(6) << std::setprecision(3) << getTotalTime_CPU() / 1e6;
        framed("* total: " + getTimeString(getTotalTime()) + " (real), " + cpu.str() + "s (CPU)");
        out << std::setprecision(3);
    }
    out << stars << std::endl << std::endl;
    out.setf(adjust, std::ios::adjustfield);
}
