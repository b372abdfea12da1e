// The displays of the program on a terminal: runs in tmux, keys sent to
// the curses screen or to the key window, screens and files read back.
// The key window of "both" is a tmux window started by a stand-in xterm;
// a stand-in ps shows only the processes on this test's terminals, so that
// key windows of other runs on the machine do not count.
//
// A fit takes a fraction of a second, less than a tmux client may need to
// deliver a key on a busy machine. So every key is in place before the
// state it acts on can pass: keys for the first polls are typed while the
// program is held back at a gate, which opens only once their echo shows
// they wait in the terminal; later keys answer a prompt, which waits for
// them.
#include "common/fits.h"
#include "common/program.h"
#include "common/tmux.h"
#include "program_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace test_common;

namespace {

size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        n++;
    return n;
}

// An 80 x 60 image of a Gaussian blob (a Sersic profile of index 0.5) on a
// flat sky with seeded noise, fitted over [11:70,6:55].
class DisplayRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto blob = [](long x, long y) {
            double r2 = (x - 40.3) * (x - 40.3) + (y - 30.6) * (y - 30.6);
            return 10 + 300 * std::exp(-r2 / 18);
        };
        write_image(dir.file("data.fits"), 80, 60, with_noise(blob, 1, 77),
                    {{"EXPTIME", "1"}, {"GAIN", "1"}, {"RDNOISE", "1"}, {"NCOMBINE", "1"}});
    }

    void write_param(const std::string &display)
    {
        Settings s;
        s.x1 = 11;
        s.x2 = 70;
        s.y1 = 6;
        s.y2 = 55;
        s.display = display;
        spit(dir.file("run.param"),
             param_file(s, "0) sersic\n1) 40.3 30.6 0 0\n3) 19 1\n4) 4 1\n5) 1 1\n8) 1 0\n9) 0 0\n"
                           "10) 0 0\nZ) 0\n"
                           "0) sky\n1) 8 1\n2) 0 0\n3) 0 0\nZ) 0\n"));
    }

    // A script that runs torvex in the scratch folder with the stand-in
    // tools first on PATH, and leaves its exit status in the file status.
    // With a gate, torvex starts only once open_gate(gate) is called.
    std::string script(const std::string &name, const std::string &status,
                       const std::string &env = "", const std::string &gate = "")
    {
        std::string path = dir.file(name);
        spit(path, "cd '" + dir.path() + "' || exit 1\n" + wait_at(gate) + env + "PATH='" +
                       dir.file("bin") + "':\"$PATH\" '" TORVEX_BIN "' run.param\necho $? > " +
                       status + "\nstty -a > " + status + ".stty\n");
        return path;
    }

    // The shell line that waits at a gate (a named pipe), or none.
    std::string wait_at(const std::string &gate)
    {
        if (gate.empty())
            return "";
        EXPECT_EQ(mkfifo(dir.file(gate).c_str(), 0600), 0) << gate;
        return "read go < '" + dir.file(gate) + "'\n";
    }

    // Lets the script waiting at the gate go on (the pipe opens for
    // writing only once its reader waits).
    void open_gate(const std::string &gate)
    {
        std::string path = dir.file(gate);
        ASSERT_TRUE(wait_until([&] {
            int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0)
                return false;
            bool sent = write(fd, "go\n", 3) == 3;
            close(fd);
            return sent;
        })) << gate;
    }

    // Starts a curses run in window main of t, held at a gate until keys
    // for its first polls wait in the terminal.
    void start_curses_run(Tmux &t, const std::string &keys)
    {
        write_param("curses");
        t.start("main", script("run.sh", "status", "", "go"));
        type_ahead(t, "main", keys);
        open_gate("go");
    }

    // Types keys into a window whose terminal echoes them, and waits until
    // they show: then they wait in the terminal for whoever reads it next.
    void type_ahead(Tmux &t, const std::string &window, const std::string &keys)
    {
        std::string before = t.screen(window);
        t.keys(window, keys);
        ASSERT_TRUE(wait_until([&] { return count(t.screen(window), keys) > count(before, keys); }))
            << t.screen(window);
    }

    // Waits for the status file and returns the exit status (-1 if none).
    int status(const std::string &name)
    {
        std::string path = dir.file(name);
        if (!wait_until([&] { return slurp(path).find('\n') != std::string::npos; }))
            return -1;
        return std::stoi(slurp(path));
    }

    // The terminal that the run of the status file name left behind is back
    // in its line mode: it reads whole lines and echoes them.
    void expect_line_mode(const std::string &name)
    {
        std::string stty = slurp(dir.file(name + ".stty"));
        EXPECT_NE(stty.find(" icanon"), std::string::npos) << stty;
        EXPECT_NE(stty.find(" echo "), std::string::npos) << stty;
    }

    ScratchDir dir;
};

TEST_F(DisplayRun, CursesQuitEndsTheFitEarlyAndStillWritesTheOutputs)
{
    Tmux t(dir);
    // The key waits in the terminal until the first poll, after the first
    // iteration.
    start_curses_run(t, "q");
    ASSERT_EQ(status("status"), 0) << t.screen("main");
    std::string s = t.screen("main");
    EXPECT_NE(s.find("Iteration : 1 "), std::string::npos) << s;
    EXPECT_EQ(s.find("Iteration : 2 "), std::string::npos) << s;
    EXPECT_NE(s.find("Quitting out early now....\nThe solution may not be fully optimized.\n"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find("Fit summary is now being saved"), std::string::npos) << s;

    EXPECT_EQ(count_hdus(dir.file("block.fits")), 4);
    EXPECT_NE(slurp(dir.file("torvex.01")).find(" 1) 40.3000 30.6000 0 0"), std::string::npos);
    EXPECT_NE(slurp(dir.file("fit.log")).find("Restart file    : torvex.01"), std::string::npos);
    expect_line_mode("status");
}

TEST_F(DisplayRun, CursesOutputAndNewLimitDuringTheFit)
{
    Tmux t(dir);
    // O after the first iteration, N after the second; the answer 3 once
    // the prompt waits for it.
    start_curses_run(t, "on");
    ASSERT_TRUE(wait_until([&] {
        return t.screen("main").find("Enter a new maximum number of iterations ==>") !=
               std::string::npos;
    })) << t.screen("main");
    t.keys("main", "3", true);
    ASSERT_EQ(status("status"), 0) << t.screen("main");
    std::string s = t.screen("main");
    EXPECT_NE(s.find("Outputting current parameters to torvex.01."), std::string::npos) << s;
    EXPECT_NE(s.find("Enter a new maximum number of iterations ==> 3"), std::string::npos) << s;
    EXPECT_NE(s.find("Iteration : 3 "), std::string::npos) << s;
    EXPECT_EQ(s.find("Iteration : 4 "), std::string::npos) << s;
    EXPECT_NE(s.find("The fitting ended because the maximum number of iterations"),
              std::string::npos)
        << s;

    // The restart file of the O key holds the positions in image
    // coordinates and asks for a fit; the end of the run wrote the next one.
    std::string first = slurp(dir.file("torvex.01"));
    EXPECT_NE(first.find(" 1) 40.3000 30.6000 0 0"), std::string::npos) << first;
    EXPECT_NE(first.find("H) 11   70   6    55"), std::string::npos) << first;
    EXPECT_NE(first.find("P) 0 "), std::string::npos) << first;
    EXPECT_NE(slurp(dir.file("torvex.02")).find(" 1) 40.3000 30.6000 0 0"), std::string::npos);
    EXPECT_NE(slurp(dir.file("fit.log")).find("Restart file    : torvex.02"), std::string::npos);
}

TEST_F(DisplayRun, CursesFatalErrorRestoresTheTerminal)
{
    // A sigma image of 1e-15 throughout, far too small for the data: chi^2
    // (about 1e36) is so large that its float rounding keeps resetting the
    // countdown, until the damping passes the largest float and the damped
    // system cannot be solved.
    write_param("curses");
    write_image(dir.file("sigma.fits"), 80, 60, [](long, long) { return 1e-15f; });
    std::string p = slurp(dir.file("run.param"));
    p.replace(p.find("C) none"), 7, "C) sigma.fits");
    p.replace(p.find("2) 0 0"), 6, "2) 0 1");
    spit(dir.file("run.param"), p);
    Tmux t(dir);
    t.start("main", script("run.sh", "status"));
    ASSERT_EQ(status("status"), 100) << t.screen("main");
    std::string s = t.screen("main");
    EXPECT_NE(s.find("Singular Matrix"), std::string::npos) << s;
    expect_line_mode("status");
}

TEST_F(DisplayRun, CursesRunEndedByAnInputErrorRestoresTheTerminal)
{
    write_param("curses");
    spit(dir.file("data.fits"), "SIMPLE  = nonsense\n");
    Tmux t(dir);
    t.start("main", script("run.sh", "status"));
    int st = status("status");
    EXPECT_NE(st, 0);
    EXPECT_NE(st, -1);
    std::string s = t.screen("main");
    EXPECT_NE(s.find("Cannot read data.fits"), std::string::npos) << s;
    expect_line_mode("status");
}

TEST_F(DisplayRun, CursesPrintsAMessageLongerThanItsLibraryBuffer)
{
    // A refused constraint line is printed whole, though it is longer than
    // the text the curses library formats in one piece (about one screen of
    // 24 x 80, so that its start scrolls out of sight).
    const std::string word(3000, 'w');
    spit(dir.file("cons.txt"), "1 " + word + " 0 1\n");
    write_param("curses");
    std::string p = slurp(dir.file("run.param"));
    p.replace(p.find("G) none"), 7, "G) cons.txt");
    spit(dir.file("run.param"), p);
    Tmux t(dir);
    t.start("main", script("run.sh", "status", "LINES=24 COLUMNS=80 "));
    ASSERT_EQ(status("status"), 0) << t.screen("main");
    std::string s = t.screen("main");
    // Rows of 80 columns: the line goes on in the next row, and the rule
    // above the initial parameters follows its end.
    s.erase(std::remove(s.begin(), s.end(), '\n'), s.end());
    EXPECT_NE(s.find(std::string(800, 'w') + " 0 1" + std::string(80, '=') + "Initial parameters"),
              std::string::npos)
        << s;
}

// ---- the key window ---------------------------------------------------------

class KeyWindowRun : public DisplayRun {
protected:
    void SetUp() override
    {
        DisplayRun::SetUp();
        write_param("both");
        ASSERT_EQ(std::system(("mkdir -p '" + dir.file("bin") + "'").c_str()), 0);
        std::string real_ps = output_of("command -v ps");
        real_ps.erase(real_ps.find_last_not_of("\n") + 1);
        // Only processes on this server's terminals (and on none).
        tool("ps", "ttys=$(tmux -L " + tmux.socket() +
                       " list-panes -a -F '#{pane_tty}' 2>/dev/null | sed 's|^/dev/||')\n'" +
                       real_ps +
                       "' \"$@\" | awk -v t=\"$ttys\" 'BEGIN { n = split(t, a, \"\\n\"); "
                       "for (i = 1; i <= n; i++) ok[a[i]] = 1 } ($2 in ok) || $2 == \"?\"'\n");
        // Opens the key window as a tmux window and, like a real xterm,
        // stays in the listing (its command line names the sleep). The
        // window becomes the key window (runs the sleep) only after its gate.
        spit(dir.file("keys.sh"), wait_at("keys.go") + "exec sleep 31536000\n");
        tool("xterm", "echo \"$*\" >> '" + dir.file("xterm.calls") + "'\ntmux -L " + tmux.socket() +
                          " new-window -d -t t -n keys \"sh '" + dir.file("keys.sh") +
                          "'\"\nsleep 5\n");
    }
    void tool(const std::string &name, const std::string &body)
    {
        std::string path = dir.file("bin/" + name);
        spit(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), 0755);
    }

    Tmux tmux{dir};
};

TEST_F(KeyWindowRun, KeysFromTheKeyWindowAndTheLimitFromTheTerminal)
{
    tmux.start("main", script("run1.sh", "status1", "DISPLAY=:99 "));
    // The new limit is read from torvex's own terminal, which waits for it.
    tmux.keys("main", "2", true);
    // N waits in the key window's terminal before torvex can find it.
    ASSERT_TRUE(wait_until([&] { return tmux.has_window("keys"); })) << tmux.screen("main");
    type_ahead(tmux, "keys", "n");
    open_gate("keys.go");
    ASSERT_EQ(status("status1"), 0) << tmux.screen("main");
    std::string s = tmux.screen("main");
    EXPECT_GE(count(s, "Trying to open up an interaction window....\n"), 1u) << s;
    EXPECT_NE(s.find("Enter a new maximum number of iterations ==> "), std::string::npos) << s;
    EXPECT_NE(s.find("Iteration : 2 "), std::string::npos) << s;
    EXPECT_EQ(s.find("Iteration : 3 "), std::string::npos) << s;
    EXPECT_EQ(slurp(dir.file("xterm.calls")),
              "+sb -T TORVEX -geometry 21x6 -bg green1 -e sleep 31536000\n");
    std::string keys = tmux.screen("keys");
    for (const char *line :
         {"  N = New max iter", "  O = Output params", "  P = Pause fit", "  Q = Quit ASAP"})
        EXPECT_NE(keys.find(line), std::string::npos) << keys;
    EXPECT_EQ(count_hdus(dir.file("block.fits")), 4);

    // A second run finds the key window still open: no new one, no waiting.
    // Its Q waits there before the run starts.
    type_ahead(tmux, "keys", "q");
    tmux.start("again", script("run2.sh", "status2", "DISPLAY=:99 "));
    ASSERT_EQ(status("status2"), 0) << tmux.screen("again");
    s = tmux.screen("again");
    EXPECT_EQ(s.find("Trying to open up"), std::string::npos) << s;
    EXPECT_NE(s.find("Quitting out early now....\nThe solution may not be fully optimized.\n"),
              std::string::npos)
        << s;
    EXPECT_EQ(s.find("Iteration : 2 "), std::string::npos) << s;
    EXPECT_EQ(count(slurp(dir.file("xterm.calls")), "\n"), 1u);
    EXPECT_NE(slurp(dir.file("fit.log")).find("Restart file    : torvex.02"), std::string::npos);
}

TEST_F(KeyWindowRun, WithoutAnXDisplayTheRunFailsAtOnce)
{
    auto start = std::chrono::steady_clock::now();
    const ProgramRun r = run_in(dir, "env -u DISPLAY PATH='" + dir.file("bin") +
                                         "':\"$PATH\" '" TORVEX_BIN "' run.param");
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_NE(r.status, -1);
    EXPECT_EQ(r.status, 1);
    EXPECT_LT(seconds, 5);
    std::string err = slurp(dir.file("stderr")), out = slurp(dir.file("stdout"));
    EXPECT_NE(err.find("no X display is set"), std::string::npos) << err;
    EXPECT_NE(err.find("\"O) regular\""), std::string::npos) << err;
    EXPECT_EQ(out.find("Trying to open up"), std::string::npos) << out;
    // Nothing after the parameter menu: no image was read, nothing written.
    const std::string rule(80, '=');
    ASSERT_NE(out.rfind(rule), std::string::npos) << out;
    EXPECT_EQ(out.find_first_not_of('\n', out.rfind(rule) + rule.size()), std::string::npos) << out;
    EXPECT_FALSE(std::ifstream(dir.file("xterm.calls")).good());
    EXPECT_FALSE(std::ifstream(dir.file("block.fits")).good());
}

} // namespace
