#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/device_access.h"
#include "platform/device_manager.h"

namespace velka {
namespace {

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->gr_name;
    return std::to_string(gid);
}

std::string UserName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return found->pw_name;
    return std::to_string(uid);
}

}  // namespace

std::optional<DeviceDenial> DeviceAccessDenial(const std::string& device_path) {
    struct stat info {};
    if (::stat(device_path.c_str(), &info) != 0) return std::nullopt;
    // The effective identity and groups decide, as they do at the opening; a group
    // joined since the login is not among them until the next login.
    if (::faccessat(AT_FDCWD, device_path.c_str(), R_OK | W_OK, AT_EACCESS) == 0)
        return std::nullopt;
    if (errno != EACCES && errno != EPERM) return std::nullopt;
    return DeviceDenial{device_path, GroupName(info.st_gid), UserName(::geteuid())};
}

std::optional<DeviceDenial> ComPortDenial(Registry& registry, const std::string& com_name) {
    const std::optional<std::string> path = DevicePathOfComName(registry, com_name);
    if (!path) return std::nullopt;
    return DeviceAccessDenial(*path);
}

}  // namespace velka
