// The key-window search over process listings, and the keys of a fit read
// from a curses screen on a pseudo-terminal.
#include "torvex/display/display.h"

#include "fit_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ncurses.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

std::string search(const std::string &listing)
{
    FILE *f = fmemopen(const_cast<char *>(listing.data()), listing.size(), "r");
    char *port = find_key_window(f);
    fclose(f);
    std::string s = port ? port : "(none)";
    free(port);
    return s;
}

TEST(KeyWindowSearch, FindsTheSleepItselfOnItsTerminal)
{
    const std::string xterm =
        "  812 pts/1    xterm +sb -T TORVEX -geometry 21x6 -bg green1 -e sleep 31536000\n";
    const struct {
        std::string listing;
        std::string port;
    } cases[] = {
        // The xterm, listed first and started from torvex's own terminal,
        // names the sleep but is not the key window.
        {xterm + "  815 pts/7    sleep 31536000\n", "/dev/pts/7"},
        {xterm, "(none)"},
        // Terminal numbers of any length.
        {"  99 pts/123 sleep 31536000\n", "/dev/pts/123"},
        {"4194301 pts/100000 sleep 31536000  \n", "/dev/pts/100000"},
        // A sleep without a terminal, other durations and extra words.
        {"  10 ?        sleep 31536000\n  11 pts/2    sleep 315360000\n"
         "  12 pts/3    sleep 31536000 x\n  13 pts/4    /bin/sleep 31536000\n",
         "(none)"},
        // The first key window listed wins.
        {"  20 pts/5 sleep 31536000\n  21 pts/6 sleep 31536000\n", "/dev/pts/5"},
        // Lines without a process number are no processes.
        {"PID TTY CMD sleep 31536000\n pts/8 sleep 31536000\n", "(none)"},
        {"", "(none)"},
        // A command line longer than any fixed line buffer before the match.
        {"  30 pts/1 " + std::string(5000, 'x') + " sleep 31536000\n  31 pts/9 sleep 31536000",
         "/dev/pts/9"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(search(c.listing), c.port) << c.listing.substr(0, 200);
}

// A curses screen on a pseudo-terminal whose other side the test types into.
class PtyScreen {
public:
    PtyScreen()
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        slave_ = fopen(ptsname(master_), "r+");
        // The screen's output must be read away or it fills the terminal.
        drain_ = std::thread([fd = master_] {
            char buf[4096];
            while (read(fd, buf, sizeof buf) > 0) {
            }
        });
        screen_ = newterm("xterm", slave_, slave_);
        nodelay(stdscr, TRUE);
        echo();
        cbreak();
    }
    ~PtyScreen()
    {
        endwin();
        delscreen(screen_);
        fclose(slave_); // the reader then sees the end of the terminal
        drain_.join();
        close(master_);
    }
    // Types keys and waits until the screen's side can read them.
    void type(const std::string &keys)
    {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
        struct pollfd p = {fileno(slave_), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
    }
    void type_later(const std::string &keys, int ms)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        ssize_t n = write(master_, keys.data(), keys.size());
        (void)n;
    }

private:
    int master_ = -1;
    FILE *slave_ = nullptr;
    SCREEN *screen_ = nullptr;
    std::thread drain_;
};

using namespace fit_test;

class Keys : public ::testing::Test {
protected:
    void SetUp() override
    {
        strcpy(device, "curses");
        input = inpars{};
        strcpy(gal.objtype, "sersic");
        gal.a[1] = 10;
        gal.a[2] = 20;
        gal.a[3] = 17.5f;
        gal.a[4] = 8;
        gal.a[5] = 2;
        gal.a[8] = 0.7f;
        gal.a[9] = 30;
    }
    void TearDown() override { strcpy(device, "regular"); }
    int poll_once(int *itermax) { return keypoll(&gal, itermax, 101, 51, 1234.5f, 900); }

    PtyScreen screen;
    CapturePrint print;
    fitpars gal;
};

TEST_F(Keys, QuitAsksToEndTheFit)
{
    int itermax = 100;
    EXPECT_EQ(poll_once(&itermax), 0); // nothing typed
    EXPECT_EQ(print.text(), "");
    for (const char *key : {"Q", "q"}) {
        printed().clear();
        screen.type(key);
        EXPECT_EQ(poll_once(&itermax), 1) << key;
        EXPECT_EQ(print.text(),
                  "\n\nQuitting out early now....\nThe solution may not be fully optimized.\n\n");
    }
    printed().clear();
    screen.type("z");
    EXPECT_EQ(poll_once(&itermax), 0);
    EXPECT_EQ(print.text(), "");
    EXPECT_EQ(itermax, 100);
}

TEST_F(Keys, NewLimitIsCheckedBeforeItIsTaken)
{
    const char *prompt = "\nEnter a new maximum number of iterations ==> ";
    const struct {
        const char *typed;
        int limit;
    } cases[] = {
        {"n30\n", 30},   {"N 7 \n", 7},           {"n\n\n12\n", 12},
        {"nabc\n", 100}, {"n0\n", 100},           {"n-5\n", 100},
        {"n12x\n", 100}, {"n99999999999\n", 100}, {"n2147483647\n", 2147483647},
    };
    for (const auto &c : cases) {
        int itermax = 100;
        printed().clear();
        screen.type(c.typed);
        EXPECT_EQ(poll_once(&itermax), 0);
        EXPECT_EQ(itermax, c.limit) << c.typed;
        EXPECT_EQ(print.text().rfind(prompt, 0), 0u) << print.text();
        bool refused = print.text().find("the iteration limit stays 100") != std::string::npos;
        EXPECT_EQ(refused, c.limit == 100) << c.typed;
    }
}

TEST_F(Keys, NewLimitUnderBothIsReadFromStandardInput)
{
    strcpy(device, "both");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const char answers[] = "  \n42\nlots\n";
    ASSERT_EQ(write(fds[1], answers, sizeof answers - 1), static_cast<ssize_t>(sizeof answers - 1));
    close(fds[1]);
    int saved = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);
    clearerr(stdin);

    int itermax = 100;
    screen.type("n");
    poll_once(&itermax);
    EXPECT_EQ(itermax, 42);
    screen.type("N");
    poll_once(&itermax);
    EXPECT_EQ(itermax, 42);
    screen.type("n"); // end of input keeps the limit too
    poll_once(&itermax);
    EXPECT_EQ(itermax, 42);

    dup2(saved, 0);
    close(saved);
    clearerr(stdin);
}

TEST_F(Keys, OutputWritesTheNextRestartFileInImageCoordinates)
{
    ScratchDir scratch;
    const std::string dir = scratch.path();
    test_common::InDir in(dir);

    int itermax = 100;
    screen.type("o");
    poll_once(&itermax);
    screen.type("O");
    poll_once(&itermax);
    EXPECT_EQ(print.text(), "\nOutputting current parameters to torvex.01.\n"
                            "\nOutputting current parameters to torvex.02.\n");
    std::string restart = slurp(dir + "/torvex.01");
    EXPECT_NE(restart.find(" 1) 110.0000 70.0000 "), std::string::npos) << restart;
    EXPECT_NE(restart.find("Chi^2 = 1234.500,  Ndof = 900"), std::string::npos) << restart;
    EXPECT_EQ(slurp(dir + "/torvex.02"), restart);
    // The positions of the fit itself stay in fit-region coordinates.
    EXPECT_EQ(gal.a[1], 10);

    // A folder that cannot take the file: the failure is reported, no
    // success line.
    chmod(dir.c_str(), 0500);
    printed().clear();
    screen.type("o");
    poll_once(&itermax);
    if (geteuid() != 0 || access((dir + "/.").c_str(), W_OK) != 0) {
        EXPECT_EQ(print.text().find("Outputting current parameters"), std::string::npos)
            << print.text();
        EXPECT_NE(print.text().find("ERROR"), std::string::npos) << print.text();
    }
    chmod(dir.c_str(), 0700);
}

double cpu_seconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

TEST_F(Keys, PauseWaitsForPWithoutSpinning)
{
    int itermax = 100;
    screen.type("p");
    std::thread typist([this] {
        screen.type_later("x", 150);
        screen.type_later("P", 250);
    });
    auto start = std::chrono::steady_clock::now();
    double cpu = cpu_seconds();
    EXPECT_EQ(poll_once(&itermax), 0);
    cpu = cpu_seconds() - cpu;
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    typist.join();
    EXPECT_GE(wall, 0.35); // the x did not end the pause
    EXPECT_LT(cpu, 0.5 * wall);
    EXPECT_EQ(print.text(), "\nPaused....  Hit P to unpause.\nContinuing....\n");
}

} // namespace
