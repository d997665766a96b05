#include "program_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace testing_support {

namespace {

ProgramRun runWith(const std::string& program, const std::vector<std::string>& arguments, const TempFolder& folder,
                   const std::optional<Account>& account, const std::optional<std::string>& home,
                   unsigned boundSeconds = 0) {
    const std::string outPath = folder / "saida.txt";
    const std::string errPath = folder / "erros.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(120);
        if (account && !becomeUser(*account)) ::_exit(121);
        if (boundSeconds > 0) ::alarm(boundSeconds);  // outlives the exec
        if (home) {
            ::setenv("HOME", home->c_str(), 1);
            ::unsetenv("XDG_DATA_HOME");
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(122);
    }
    ProgramRun run;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    ::unlink(outPath.c_str());
    ::unlink(errPath.c_str());
    return run;
}

}  // namespace

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments, const TempFolder& folder,
                      bool asNobody, const std::optional<std::string>& home) {
    std::optional<Account> nobody;
    if (asNobody && ::geteuid() == 0) nobody = Account{65534, 65534};
    return runWith(program, arguments, folder, nobody, home);
}

ProgramRun runProgramWithin(unsigned seconds, const std::string& program, const std::vector<std::string>& arguments,
                            const TempFolder& folder) {
    return runWith(program, arguments, folder, std::nullopt, std::nullopt, seconds);
}

ProgramRun runProgramAs(const Account& account, const std::string& program, const std::vector<std::string>& arguments,
                        const TempFolder& folder) {
    return runWith(program, arguments, folder, account, std::nullopt);
}

}  // namespace testing_support
