// The loops the benchmark compares the tool with: the same conversion in 2048-byte blocks with
// one pread and one pwrite per block and nothing else, or, with --seek, with an lseek before the
// read and before the write (the tool's four system calls per block, without the stream layer).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

ssize_t read_at(int fd, std::uint8_t* buffer, std::size_t n, off_t offset, bool seek) {
    if (!seek) return pread(fd, buffer, n, offset);
    return lseek(fd, offset, SEEK_SET) == offset ? read(fd, buffer, n) : -1;
}

ssize_t write_at(int fd, const std::uint8_t* buffer, std::size_t n, off_t offset, bool seek) {
    if (!seek) return pwrite(fd, buffer, n, offset);
    return lseek(fd, offset, SEEK_SET) == offset ? write(fd, buffer, n) : -1;
}

}  // namespace

int main(int argc, char* argv[]) {
    bool const seek = argc == 3 && std::strcmp(argv[1], "--seek") == 0;
    if (argc != 2 && !seek) return std::fputs("usage: bench_reference [--seek] file\n", stderr), 2;
    int const fd = open(argv[argc - 1], O_RDWR);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) return std::perror(argv[argc - 1]), 1;
    std::uint8_t buffer[2048];
    for (off_t offset = 4; offset < st.st_size;) {
        ssize_t const n = read_at(fd, buffer, sizeof buffer, offset, seek);
        if (n <= 0) return std::perror("read"), 1;
        for (ssize_t i = 0; i < n; ++i) buffer[i] = static_cast<std::uint8_t>(buffer[i] >> 4 | buffer[i] << 4);
        if (write_at(fd, buffer, static_cast<std::size_t>(n), offset, seek) != n) return std::perror("write"), 1;
        offset += n;
    }
    return close(fd) == 0 ? 0 : 1;
}
