// Runs a command and writes its peak resident set size in KiB, as getrusage
// reports it for the finished child, to REPORT; exits with the command's status.
//   peak_rss REPORT [--stdin FILE] [--stdout FILE] COMMAND ARGS...
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    const char* in = nullptr;
    const char* out = nullptr;
    if (argc < 3)
        return 2;
    const char* report = argv[1];
    int first = 2;
    while (first + 1 < argc && argv[first][0] == '-' && argv[first][1] == '-') {
        if (std::strcmp(argv[first], "--stdin") == 0)
            in = argv[first + 1];
        else if (std::strcmp(argv[first], "--stdout") == 0)
            out = argv[first + 1];
        else
            break;
        first += 2;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: peak_rss REPORT [--stdin FILE] [--stdout FILE] COMMAND ARGS...\n");
        return 2;
    }
    const pid_t child = fork();
    if (child == 0) {
        if (in) {
            const int fd = open(in, O_RDONLY);
            if (fd < 0 || dup2(fd, 0) < 0)
                _exit(127);
        }
        if (out) {
            const int fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0)
                _exit(127);
        }
        execvp(argv[first], argv + first);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return 127;
    if (std::FILE* file = std::fopen(report, "w")) {
        std::fprintf(file, "%ld\n", usage.ru_maxrss);
        std::fclose(file);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
