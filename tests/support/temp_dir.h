// A fresh directory for one test, removed with everything in it when the object dies.
#pragma once

#include <string>

namespace velka::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// True when this Windows program runs under Wine (whose profile functions, for
// one, differ from Windows in ways a test must not take for faults of ours).
bool RunningUnderWine();

// Sets a variable of this process's environment.
void SetEnvironment(const std::string& name, const std::string& value);

}  // namespace velka::testing
