// swap_folders STOP NAME OTHER [NAME OTHER ...]: a stand-in for someone who swaps folders for
// links while a drop runs. Exchanges the two names of each pair (a folder and a link, with
// renameat2's RENAME_EXCHANGE) again and again until the file STOP exists, then leaves each pair
// as it found it and says how many rounds it made. Exit status 1 when a pair cannot be exchanged.
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <unistd.h>

#include <cstdio>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc < 4 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: swap_folders STOP NAME OTHER [NAME OTHER ...]\n");
        return 2;
    }
    const auto exchange = [&](int pair) {
        return renameat2(AT_FDCWD, argv[2 + 2 * pair], AT_FDCWD, argv[3 + 2 * pair], RENAME_EXCHANGE) == 0;
    };
    int const pairs = (argc - 2) / 2;
    std::vector<bool> swapped(static_cast<std::size_t>(pairs), false);
    unsigned long rounds = 0;
    for (; access(argv[1], F_OK) != 0; ++rounds) {
        for (int pair = 0; pair < pairs; ++pair) {
            if (!exchange(pair)) {
                std::perror(argv[2 + 2 * pair]);
                return 1;
            }
            swapped[static_cast<std::size_t>(pair)] = !swapped[static_cast<std::size_t>(pair)];
        }
    }
    for (int pair = 0; pair < pairs; ++pair) {
        if (swapped[static_cast<std::size_t>(pair)] && !exchange(pair)) return 1;
    }
    std::printf("%lu rounds\n", rounds);
    return 0;
}
