// upssim: plays a UPS on a pseudo-terminal or a serial port.
//
// Sends status frames as a scenario says, and logs every byte the monitor
// sends back, naming the commands it recognises. See docs/upssim.md.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "upssim/frame.h"
#include "upssim/player.h"
#include "upssim/rxlog.h"
#include "upssim/scenario.h"

namespace {

using namespace upssim;

constexpr int kExitOk = 0;
constexpr int kExitRuntime = 1;
constexpr int kExitUsage = 2;

// If more than this many bytes we sent to the pseudo-terminal are still
// unread, nobody is listening: drop them, as a real line would have.
// Keeps a monitor that opens the port late from reading a burst of old frames.
constexpr int kStaleBacklogLimit = 512;

// ---------------------------------------------------------------- fds

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

std::runtime_error sys_error(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// Writes everything to a blocking fd (stdout, log file); errors are ignored
// so that a reader closing our stdout cannot stop the simulation.
void write_fully(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

// ---------------------------------------------------------------- options

struct Options {
    std::optional<std::string> device;
    std::optional<std::string> scenario;  // path, or "-" for stdin
    Kind kind = Kind::Amp;
    FrameFields fields;
    unsigned interval_ms = 1000;
    std::optional<std::uint64_t> count;
    std::uint64_t seed = 1;
    std::optional<unsigned> exit_after_ms;
    std::optional<unsigned> linger_ms;  // set explicitly
    bool linger_forever = false;        // --linger forever
    std::optional<std::string> log_path;
    bool quiet = false;
};

constexpr const char* kUsage =
    "usage: upssim [--device PATH] [--scenario FILE|-] [frame flags...] [--log FILE] [--quiet]\n"
    "\n"
    "  --device PATH      use a serial port (9600 8N1) instead of a new pseudo-terminal\n"
    "  --scenario FILE|-  play a scenario file, or read commands from stdin as they come\n"
    "  --kind amp|star    frame kind: &&& (10 bytes, default) or *** (9 bytes)\n"
    "  --volt N           voltage reading, 0..65279 (default 14400)\n"
    "  --period N         period reading in us, 0..65279 (default 16667)\n"
    "  --battery N        battery byte, 0..255 (default 200)\n"
    "  --vbyte N          same as --battery (byte 4 of a *** frame)\n"
    "  --line C           line status character (default 0)\n"
    "  --mode C           mode character (default 0)\n"
    "  --interval MS      time from one frame to the next (default 1000)\n"
    "  --count N          built-in loop only: send N frames, then stop (default: no limit)\n"
    "  --noise N          N garbage bytes before every frame (default 0)\n"
    "  --seed N           seed for the garbage bytes (default 1)\n"
    "  --exit-after MS    quit after MS milliseconds whatever the scenario does\n"
    "  --linger MS|forever  keep logging after the scenario ends\n"
    "                     (default: forever with --scenario -, otherwise 0)\n"
    "  --log FILE         append the log to FILE\n"
    "  --quiet            do not copy the log to stdout\n";

[[noreturn]] void usage_error(const std::string& message) {
    std::cerr << "upssim: " << message << "\n\n" << kUsage;
    std::exit(kExitUsage);
}

unsigned long long number_arg(std::string_view flag, std::string_view value, unsigned long long max) {
    const auto v = parse_number(value, max);
    if (!v) {
        usage_error(std::string(flag) + " needs a number from 0 to " + std::to_string(max) + ", got '" +
                    std::string(value) + "'");
    }
    return *v;
}

Options parse_options(int argc, char** argv) {
    Options o;
    bool battery_given = false;
    for (int i = 1; i < argc; ++i) {
        std::string flag = argv[i];
        std::optional<std::string> inline_value;
        if (auto eq = flag.find('='); flag.rfind("--", 0) == 0 && eq != std::string::npos) {
            inline_value = flag.substr(eq + 1);
            flag.erase(eq);
        }
        auto value = [&]() -> std::string {
            if (inline_value) return *std::exchange(inline_value, std::nullopt);
            if (i + 1 >= argc) usage_error(flag + " needs a value");
            return argv[++i];
        };
        auto field = [&](std::string_view key) {
            const std::string v = value();
            if (auto err = apply_field(o.fields, key, v)) usage_error("--" + *err);
        };

        if (flag == "--help" || flag == "-h") {
            std::cout << kUsage;
            std::exit(kExitOk);
        } else if (flag == "--quiet") {
            o.quiet = true;
        } else if (flag == "--device") {
            o.device = value();
        } else if (flag == "--scenario") {
            o.scenario = value();
        } else if (flag == "--log") {
            o.log_path = value();
        } else if (flag == "--kind") {
            const std::string v = value();
            const auto kind = parse_kind(v);
            if (!kind) usage_error("--kind must be amp or star, got '" + v + "'");
            o.kind = *kind;
        } else if (flag == "--battery" || flag == "--vbyte") {
            if (battery_given) usage_error("--battery and --vbyte set the same byte; give it once");
            battery_given = true;
            field(flag.substr(2));
        } else if (flag == "--volt" || flag == "--period" || flag == "--line" || flag == "--mode" ||
                   flag == "--noise") {
            field(flag.substr(2));
        } else if (flag == "--interval") {
            o.interval_ms = static_cast<unsigned>(number_arg(flag, value(), kMaxMs));
        } else if (flag == "--count") {
            o.count = number_arg(flag, value(), 1'000'000'000);
            if (*o.count == 0) usage_error("--count must be at least 1");
        } else if (flag == "--seed") {
            o.seed = number_arg(flag, value(), UINT64_MAX);
        } else if (flag == "--exit-after") {
            o.exit_after_ms = static_cast<unsigned>(number_arg(flag, value(), kMaxMs));
        } else if (flag == "--linger") {
            const std::string v = value();
            if (v == "forever") {
                o.linger_forever = true;
            } else {
                o.linger_ms = static_cast<unsigned>(number_arg(flag, v, kMaxMs));
            }
        } else {
            usage_error("unknown argument '" + flag + "'");
        }
        if (inline_value) usage_error(flag + " takes no value");
    }
    if (o.count && o.scenario) usage_error("--count is for the built-in loop; use frame repeat=N in a scenario");
    return o;
}

// ---------------------------------------------------------------- log

class Logger {
public:
    Logger(bool to_stdout, UniqueFd file)
        : to_stdout_(to_stdout),
          file_(std::move(file)),
          start_(std::chrono::steady_clock::now()),
          start_wall_(std::chrono::system_clock::now()) {}

    std::int64_t now_ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
            .count();
    }

    // `body` starts with "TAG <ms>"; the local time of `ms` is appended.
    void line(const std::string& body, std::int64_t ms) const {
        const std::string text = body + " @" + wall_time(ms) + "\n";
        if (to_stdout_ && stdout_has_room()) write_fully(STDOUT_FILENO, text);
        if (file_.valid()) write_fully(file_.get(), text);
    }

    void event(std::string_view tag, std::int64_t ms, const std::string& rest) const {
        line(std::string(tag) + " " + std::to_string(ms) + (rest.empty() ? "" : " " + rest), ms);
    }

    bool to_stdout() const { return to_stdout_; }

private:
    // A caller that reads only the PTY line and then leaves our stdout pipe
    // alone must not be able to stall the simulation once the pipe is full:
    // lines that do not fit are left out of stdout (the log file has them).
    static bool stdout_has_room() {
        pollfd p{STDOUT_FILENO, POLLOUT, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT);
    }

    std::string wall_time(std::int64_t ms) const {
        const auto tp = start_wall_ + std::chrono::milliseconds(ms);
        const std::time_t secs = std::chrono::system_clock::to_time_t(tp);
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count() % 1000;
        std::tm tm{};
        localtime_r(&secs, &tm);
        char buf[40];
        const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
        std::snprintf(buf + n, sizeof buf - n, ".%03lld", static_cast<long long>(millis));
        return buf;
    }

    bool to_stdout_;
    UniqueFd file_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::system_clock::time_point start_wall_;
};

// ---------------------------------------------------------------- port

struct Port {
    UniqueFd fd;
    // For a pseudo-terminal: our own handle on the slave side, held for the
    // whole run so the master never sees a hang-up while the monitor closes
    // and reopens the port.
    UniqueFd slave;
    std::string name;
    bool is_pty = false;
};

void make_raw_9600(int fd, bool serial_line) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) throw sys_error("tcgetattr");
    ::cfmakeraw(&tio);
    if (serial_line) {
        tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    }
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B9600) != 0 || ::cfsetospeed(&tio, B9600) != 0) throw sys_error("cfsetspeed");
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) throw sys_error("tcsetattr");
}

void set_nonblocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) throw sys_error("fcntl O_NONBLOCK");
}

Port open_pty() {
    Port p;
    p.is_pty = true;
    p.fd = UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!p.fd.valid()) throw sys_error("posix_openpt");
    if (::grantpt(p.fd.get()) != 0) throw sys_error("grantpt");
    if (::unlockpt(p.fd.get()) != 0) throw sys_error("unlockpt");
    char name[128];
    if (::ptsname_r(p.fd.get(), name, sizeof name) != 0) throw sys_error("ptsname_r");
    p.name = name;
    p.slave = UniqueFd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!p.slave.valid()) throw sys_error("open " + p.name);
    make_raw_9600(p.slave.get(), false);
    set_nonblocking(p.fd.get());
    return p;
}

Port open_device(const std::string& path) {
    Port p;
    p.name = path;
    p.fd = UniqueFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!p.fd.valid()) throw sys_error("open " + path);
    make_raw_9600(p.fd.get(), true);
    ::tcflush(p.fd.get(), TCIOFLUSH);
    return p;
}

// ---------------------------------------------------------------- output

// Sends the player's bytes to the port and logs them.
class PortOutput : public PlayerOutput {
public:
    PortOutput(Port& port, const Logger& log) : port_(port), log_(log) {}

    void event(std::string_view tag, std::int64_t now, const std::string& text) override {
        log_.event(tag, now, text);
    }

    void send(const std::vector<std::uint8_t>& bytes, std::int64_t now) override {
        if (bytes.empty()) return;
        if (port_.is_pty) drop_stale_backlog(now, false);
        std::size_t done = 0;
        int stalls = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(port_.fd.get(), bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) throw sys_error("write " + port_.name);
            if (++stalls > 3) throw std::runtime_error("write " + port_.name + ": output stalled");
            if (port_.is_pty) {
                drop_stale_backlog(now, true);
            } else {
                pollfd p{port_.fd.get(), POLLOUT, 0};
                ::poll(&p, 1, 2000);
            }
        }
        log_.event("TX", now, hex_bytes(bytes));
    }

private:
    void drop_stale_backlog(std::int64_t now, bool force) {
        int queued = 0;
        if (::ioctl(port_.slave.get(), FIONREAD, &queued) != 0) return;
        if (queued == 0 || (!force && queued <= kStaleBacklogLimit)) return;
        ::tcflush(port_.slave.get(), TCIFLUSH);
        log_.event("NOTE", now, "nobody read the last " + std::to_string(queued) + " bytes sent; dropped them");
    }

    Port& port_;
    const Logger& log_;
};

// ---------------------------------------------------------------- main loop

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw sys_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int run(const Options& o) {
    // Steps from a file are checked before anything is opened.
    std::vector<Step> steps;
    const bool from_stdin = o.scenario && *o.scenario == "-";
    if (o.scenario && !from_stdin) {
        try {
            steps = parse_scenario(read_file(*o.scenario));
        } catch (const ParseError& e) {
            std::cerr << "upssim: " << *o.scenario << ": " << e.what() << "\n";
            return kExitUsage;
        }
    } else if (!o.scenario) {
        steps.push_back(Step{0, "", FrameStep{{}, o.count.value_or(kRepeatForever), std::nullopt}});
    }

    UniqueFd log_file;
    if (o.log_path) {
        log_file = UniqueFd(::open(o.log_path->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        if (!log_file.valid()) throw sys_error("open " + *o.log_path);
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) throw sys_error("sigprocmask");
    UniqueFd sig_fd(::signalfd(-1, &signals, SFD_CLOEXEC));
    if (!sig_fd.valid()) throw sys_error("signalfd");

    Port port = o.device ? open_device(*o.device) : open_pty();
    {
        const std::string hello = std::string(port.is_pty ? "PTY " : "DEVICE ") + port.name + "\n";
        write_fully(STDOUT_FILENO, hello);
    }

    const Logger log(!o.quiet, std::move(log_file));
    log.event("START", 0,
              "port=" + port.name + " scenario=" + (o.scenario ? *o.scenario : std::string("built-in")) +
                  " kind=" + std::string(kind_name(o.kind)));

    PortOutput output(port, log);
    Player player(PlayerSettings{o.kind, o.fields, o.interval_ms, o.seed}, output);
    for (auto& s : steps) player.add(std::move(s));

    RxLog rx;
    IncrementalParser stdin_parser;
    bool input_done = !from_stdin;
    const bool linger_forever = o.linger_forever || (!o.linger_ms && from_stdin);
    const std::int64_t linger_ms = o.linger_ms.value_or(0);
    std::optional<std::int64_t> linger_until;

    auto take_outcomes = [&](const std::vector<IncrementalParser::Outcome>& outcomes, std::int64_t now) {
        for (const auto& out : outcomes) {
            if (!out.error.empty()) {
                log.event("ERROR", now, "stdin " + out.error);
                if (!log.to_stdout()) std::cerr << "upssim: stdin " << out.error << "\n";
            } else if (out.step) {
                player.add(*out.step);
            }
        }
    };

    std::string end_reason;
    std::uint8_t buf[512];
    while (true) {
        const std::int64_t now = log.now_ms();
        if (o.exit_after_ms && now >= *o.exit_after_ms) {
            end_reason = "exit-after";
            break;
        }
        std::optional<std::int64_t> due = player.advance(now);
        if (player.quit_requested()) {
            end_reason = "quit";
            break;
        }
        if (input_done && player.idle()) {
            if (!linger_until && !linger_forever) linger_until = now + linger_ms;
            if (linger_until && now >= *linger_until) {
                end_reason = "scenario finished";
                break;
            }
            due = linger_until;
        }
        if (o.exit_after_ms) due = due ? std::min<std::int64_t>(*due, *o.exit_after_ms) : *o.exit_after_ms;

        pollfd fds[3] = {{port.fd.get(), POLLIN, 0}, {sig_fd.get(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const nfds_t nfds = input_done ? 2 : 3;
        const int timeout = due ? static_cast<int>(std::max<std::int64_t>(0, *due - now)) : -1;
        if (::poll(fds, nfds, timeout) < 0) {
            if (errno == EINTR) continue;
            throw sys_error("poll");
        }

        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(sig_fd.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                const char* name = sigabbrev_np(static_cast<int>(info.ssi_signo));
                end_reason = std::string("signal SIG") + (name ? name : "?");
                break;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(port.fd.get(), buf, sizeof buf);
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                log.event("ERROR", log.now_ms(), "read " + port.name + ": " + std::strerror(errno));
                return kExitRuntime;
            }
            if (n == 0 && !port.is_pty) {
                log.event("ERROR", log.now_ms(), port.name + " closed");
                return kExitRuntime;
            }
            const std::int64_t at = log.now_ms();
            for (ssize_t i = 0; i < n; ++i) {
                RxResult r = rx.feed(buf[i], at);
                for (const auto& l : r.lines) log.line(l, at);
                if (r.turn_off) player.turn_off_received(*r.turn_off);
            }
        }
        if (!input_done && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            const std::int64_t at = log.now_ms();
            if (n > 0) {
                take_outcomes(stdin_parser.feed({reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n)}),
                              at);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                take_outcomes(stdin_parser.finish(), at);
                input_done = true;
            }
        }
    }

    const std::int64_t end = log.now_ms();
    for (const auto& l : rx.finish(end)) log.line(l, end);
    log.event("END", end, end_reason);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    const Options options = parse_options(argc, argv);
    try {
        return run(options);
    } catch (const std::exception& e) {
        std::cerr << "upssim: " << e.what() << "\n";
        return kExitRuntime;
    }
}
