// Sets the process's umask for one test and gives the old one back, so that a test
// of file modes cannot pass by the umask's grace. POSIX.
#pragma once

#include <sys/stat.h>

namespace velka::testing {

class Umask {
  public:
    explicit Umask(mode_t mask) : old_(::umask(mask)) {}
    ~Umask() { ::umask(old_); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

  private:
    mode_t old_;
};

}  // namespace velka::testing
