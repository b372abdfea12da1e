// Stopwatch: elapsed calendar time and processor time of a run, with pauses
// and labelled laps, and a framed status box.
//
// Misuse (starting twice, stopping a stopwatch that does not run, asking for
// results that do not exist yet) prints a message on standard error and ends
// the process with status 255.
#ifndef LIGHTCURVE_STOPWATCH_H
#define LIGHTCURVE_STOPWATCH_H

#include <functional>
#include <string>

#include "orv/MArray.h"

class Stopwatch {
public:
    // A clock reading: calendar time in seconds, or processor time in ticks
    // of 1,000,000 per second.
    using Clock = std::function<long()>;

    // Reads time() and clock().
    explicit Stopwatch(std::string name);
    // Reads the given clocks instead, e.g. to replay recorded readings.
    Stopwatch(std::string name, Clock real, Clock cpu);

    // Back to ready: no laps, all readings 0.
    void reset();
    // ready -> running.
    void start();
    // Pauses and resumes a running stopwatch; paused time is left out of
    // the totals (not out of the laps).
    void pause();
    void resume();
    // Records a lap with the current readings.
    void lap(std::string label);
    // Records a last lap and stops; an open pause ends here.
    void stop(std::string label);

    int getNumberLaps() const;
    // Readings at start (once started) and at stop (once stopped).
    long getStart() const;
    long getStart_CPU() const;
    long getEnd() const;
    long getEnd_CPU() const;
    // Stop minus start minus the time paused (once stopped).
    long getTotalTime() const;
    long getTotalTime_CPU() const;
    // The readings recorded at lap n (1..getNumberLaps()).
    long getLapTime(int n) const;
    long getLapTime_CPU(int n) const;
    // Duration of lap n: since the lap before, or since the start for lap 1.
    long getLap(int n) const;
    long getLap_CPU(int n) const;

    // Seconds as hh:mm:ss; whole days are dropped.
    static std::string getTimeString(long seconds);
    // Processor ticks as hh:mm:ss of whole seconds.
    static std::string getTimeString_CPU(long ticks);
    // A calendar time as UTC in the C library's asctime form, with its
    // closing newline ("Sat Jan  1 12:00:00 2000\n").
    static std::string getTimeString_full(long time);

    // Prints the status box on standard output: name, state, the laps (from
    // two laps on) and, once stopped, the totals. The output precision stays
    // as the last number set it.
    void printStatus() const;

private:
    [[noreturn]] void fail(const std::string &what) const;
    void requireRunning() const;
    void requireStarted() const;
    void requireStopped() const;
    void requireLap(int n) const;
    void record(long real, long cpu, const std::string &label);

    orv::MArray<long, 1> lap_cpu;
    orv::MArray<long, 1> lap_real;
    orv::MArray<std::string, 1> lap_label;
    long start_cpu = 0;
    long pause_cpu = 0;
    long paused_cpu = 0;
    long end_cpu = 0;
    long start_real = 0;
    long pause_real = 0;
    long paused_real = 0;
    long end_real = 0;
    std::string name;
    int number_laps = 0;
    bool started = false;
    bool running = false;
    bool paused = false;

    Clock real_clock;
    Clock cpu_clock;
};

#endif
