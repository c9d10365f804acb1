// The lines of a drop on a Linux terminal, a pipe or a file, each batch in one write. A stream
// whose reader has gone (EPIPE) is written no more; the drop goes on.
#include "output_posix.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "output.hpp"

namespace drop {

namespace {

// Set by the signal handler; lock-free atomics may be written there.
std::atomic<bool> stopping{false};
std::atomic<int> caught{0};

extern "C" void on_signal(int number) {
    caught.store(number);
    stopping.store(true);
}

// Whether standard output and standard error are written no more: their reader is gone, or they
// were closed when the drop started. Only the thread that writes lines reads and sets them.
bool gone[2] = {false, false};

// The length of the UTF-8 character at the start of `bytes`, or 0 for a byte that starts none:
// a stray continuation byte, an overlong form, a surrogate or a code point past U+10FFFF.
std::size_t character_length(std::string_view bytes) {
    auto const byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    unsigned const first = byte(0);
    std::size_t const length = first < 0x80   ? 1
                               : first < 0xC2 ? 0
                               : first < 0xE0 ? 2
                               : first < 0xF0 ? 3
                               : first < 0xF5 ? 4
                                              : 0;
    if (length == 0 || length > bytes.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0U) != 0x80) return 0;
    }
    unsigned const second = length > 1 ? byte(1) : 0;
    if ((first == 0xE0 && second < 0xA0) || (first == 0xED && second >= 0xA0) || (first == 0xF0 && second < 0x90) ||
        (first == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

}  // namespace

void open_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        // open gives the lowest free descriptor, and those below fd are open by now.
        if (::fcntl(fd, F_GETFD) != -1) continue;
        int const opened = ::open("/dev/null", O_RDWR);
        if (opened != fd) {
            if (opened >= 0) ::close(opened);
            if (fd > 0) gone[fd - 1] = true;  // what could take its place is never written
        }
    }
}

void write_lines(std::string_view lines, bool failure) {
    bool& stream_gone = gone[failure ? 1 : 0];
    int const fd = failure ? STDERR_FILENO : STDOUT_FILENO;
    while (!stream_gone && !lines.empty()) {
        ssize_t const written = ::write(fd, lines.data(), lines.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            stream_gone = written < 0 && errno == EPIPE;
            return;  // these lines are lost: there is nowhere to say so
        }
        lines.remove_prefix(static_cast<std::size_t>(written));
    }
}

bool on_terminal() { return !gone[0] && isatty(STDOUT_FILENO) == 1; }

std::size_t window_columns() {
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col != 0 ? size.ws_col : 80;
}

Path text(std::string_view utf8) { return Path(utf8); }

std::string file_text(std::string_view lines) { return std::string(lines); }

std::string readable(std::string_view name) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string shown;
    while (!name.empty()) {
        std::size_t const length = character_length(name);
        auto const first = static_cast<unsigned char>(name[0]);
        // C0 and C1 controls and DEL could move the cursor or end the line.
        bool const control = first < 0x20 || first == 0x7F ||
                             (length == 2 && first == 0xC2 && static_cast<unsigned char>(name[1]) < 0xA0);
        if (length == 0 || control) {
            for (std::size_t i = 0; i < (length == 0 ? 1 : length); ++i) {
                auto const b = static_cast<unsigned char>(name[i]);
                shown += "\\x";
                shown += digits[b >> 4];
                shown += digits[b & 0xFU];
            }
            name.remove_prefix(length == 0 ? 1 : length);
            continue;
        }
        if (name[0] == '\\') shown += '\\';
        shown += name.substr(0, length);
        name.remove_prefix(length);
    }
    return shown;
}

std::string system_text(int error, std::string_view) { return std::generic_category().message(error); }

// A terminal's title is left alone: setting it takes escape sequences, which a pipe or a file
// would keep.
std::optional<Path> console_title() { return std::nullopt; }
void set_console_title(const Path&) {}

const std::atomic<bool>& stop_on_signals() {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a wait for Enter ends at the signal
    for (int const number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
    // A write past the file size limit, or to a pipe whose reader has gone, fails with its
    // error, EFBIG or EPIPE, instead of ending the process.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    return stopping;
}

int stopping_signal() { return caught.load(); }

void wait_for_enter() {
    if (isatty(STDIN_FILENO) != 1) return;
    say("Press Enter to close this window.");
    flush_lines();
    char c = 0;
    while (read(STDIN_FILENO, &c, 1) == 1 && c != '\n') {
    }
}

}  // namespace drop
