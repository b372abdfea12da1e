// Programs on a terminal: a private tmux server whose windows run shell
// commands, take keys and show their screens.  Tests never sleep and hope:
// they wait until the screen or a file shows the state they need.
#ifndef TESTS_COMMON_TMUX_H
#define TESTS_COMMON_TMUX_H

#include "common/program.h"
#include "common/scratch.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>

namespace test_common {

// True as soon as done() is, false when it is not within the time given.
inline bool wait_until(const std::function<bool()> &done, double seconds = 60)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A private tmux server (its configuration in the scratch folder) whose
// windows keep their last screen: no alternate screen, and a window stays
// after its program ends.
class Tmux {
public:
    explicit Tmux(const ScratchDir &dir)
        : sock_("test_tmux_" + std::to_string(getpid()) + "_" + std::to_string(serial()++)),
          conf_(dir.file("tmux.conf"))
    {
        spit(conf_, "set -g alternate-screen off\nset -g remain-on-exit on\n"
                    "set -g history-limit 5000\n");
    }
    ~Tmux() { tmux("kill-server"); }
    Tmux(const Tmux &) = delete;
    Tmux &operator=(const Tmux &) = delete;

    const std::string &socket() const { return sock_; }

    // Runs the shell script file script in a new window of a 200 x 60
    // terminal.
    void start(const std::string &window, const std::string &script)
    {
        if (!started_)
            tmux("-f '" + conf_ + "' new-session -d -s t -x 200 -y 60 -n " + window + " 'sh " +
                 script + "'");
        else
            tmux("new-window -d -t t -n " + window + " 'sh " + script + "'");
        started_ = true;
    }
    // Types text into the window, then Enter when asked to.
    void keys(const std::string &window, const std::string &text, bool enter = false)
    {
        tmux("send-keys -t t:" + window + " -l '" + text + "'");
        if (enter)
            tmux("send-keys -t t:" + window + " Enter");
    }
    // The window's screen with its history (tmux drops the trailing blanks
    // of a line).
    std::string screen(const std::string &window)
    {
        return output_of("tmux -L " + sock_ + " capture-pane -p -J -S -2000 -t t:" + window +
                         " 2>/dev/null");
    }
    bool has_window(const std::string &window)
    {
        return output_of("tmux -L " + sock_ + " list-windows -F '#W' 2>/dev/null")
                   .find(window + "\n") != std::string::npos;
    }
    // Waits up to a minute for text to show on the window's screen.
    bool wait_for(const std::string &window, const std::string &text)
    {
        return wait_until([&] { return screen(window).find(text) != std::string::npos; });
    }

private:
    int tmux(const std::string &args)
    {
        return std::system(("tmux -L " + sock_ + " " + args + " >/dev/null 2>&1").c_str());
    }
    static int &serial()
    {
        static int n = 0;
        return n;
    }
    std::string sock_, conf_;
    bool started_ = false;
};

} // namespace test_common

#endif
