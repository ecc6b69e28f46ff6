#include "devtools/build/runtime/get_runfiles_dir.h"

#include <errno.h>
#include <libgen.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "logging/check.h"
#include "logging/log.h"

namespace devtools_build {

namespace internal {

namespace {

constexpr char kDepsDsoVariable[] = "PLOVEX3_NATIVE_CODE_DEPS_DSO";
// Programs started through a descriptor (fexecve) have such an AT_EXECFN,
// which names nothing once the descriptor is closed.
constexpr char kDescriptorPathPrefix[] = "/dev/fd/";
// The runtime environment's directory; its interpreter is no program of
// ours, so the program's own name comes from the variable instead.
constexpr char kRuntimeEnvironmentPrefix[] = "/usr/vrte/v";
constexpr char kInterpreterSuffix[] = "/bin/python2.7";
constexpr char kRunfilesSuffix[] = ".runfiles";
constexpr char kRunfilesWorkspace[] = ".runfiles/plovex3/";
constexpr char kWorkspaceComponent[] = "/plovex3/";

constexpr size_t kCwdBufferSize = 8192;

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, strlen(prefix), prefix) == 0;
}

bool EndsWith(const std::string& text, const char* suffix) {
  size_t length = strlen(suffix);
  return text.size() >= length &&
         text.compare(text.size() - length, length, suffix) == 0;
}

bool IsRuntimeInterpreter(const std::string& path) {
  return StartsWith(path, kRuntimeEnvironmentPrefix) &&
         EndsWith(path, kInterpreterSuffix);
}

std::string DirName(const std::string& path) {
  std::vector<char> buffer(path.begin(), path.end());
  buffer.push_back('\0');
  return dirname(buffer.data());
}

class PosixEnvironment : public OsInterface {
 public:
  bool IsDirectoryAccessible(const std::string& path) const override {
    return access(path.c_str(), R_OK | X_OK) == 0;
  }

  std::string GetCwd() const override {
    char buffer[kCwdBufferSize];
    if (getcwd(buffer, sizeof(buffer)) == nullptr) {
      LOG(FATAL) << strerror(errno);
    }
    return buffer;
  }

  const char* GetEnv(const char* name) const override { return getenv(name); }

  std::string ReadSymlink(const std::string& path) const override {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
      LOG(FATAL) << "Error stating \"" << path << "\": " << strerror(errno);
    }
    if (!S_ISLNK(st.st_mode)) return std::string();

    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length < 0) {
      LOG(FATAL) << "Error reading link \"" << path
                 << "\": " << strerror(errno);
    }
    // A longer target than lstat reported means the link was replaced in
    // between, and the text read may be cut short.
    if (length > st.st_size) {
      LOG(FATAL) << "Link \"" << path << "\" changed.";
    }
    target.resize(static_cast<size_t>(length));
    return target;
  }
};

}  // namespace

OsInterface::~OsInterface() = default;

void OsInterface::Reserved() const {}

std::unique_ptr<OsInterface> NewPosixEnvironment() {
  return std::make_unique<PosixEnvironment>();
}

std::string GetProgramPath(const char* execfn, const char* invocation_name,
                           const OsInterface* os_helper) {
  std::string path;
  if (execfn != nullptr && !StartsWith(execfn, kDescriptorPathPrefix)) {
    path = execfn;
  }
  if (path.empty() && invocation_name != nullptr) path = invocation_name;

  const char* deps_dso = os_helper->GetEnv(kDepsDsoVariable);
  if (deps_dso != nullptr && (path.empty() || IsRuntimeInterpreter(path))) {
    path = deps_dso;
  }

  if (!path.empty() && path[0] != '/') {
    path = os_helper->GetCwd() + "/" + path;
  }
  return path;
}

std::string GetRunfilesDir(const std::string& program_path,
                           const OsInterface* os_helper) {
  std::string srcdir;

  std::string candidate = program_path + kRunfilesSuffix;
  if (os_helper->IsDirectoryAccessible(candidate)) srcdir = candidate;

  if (srcdir.empty()) {
    size_t pos = program_path.rfind(kRunfilesWorkspace);
    if (pos != std::string::npos) {
      candidate = program_path.substr(0, pos) + kRunfilesSuffix;
      if (os_helper->IsDirectoryAccessible(candidate)) srcdir = candidate;
    }
  }

  if (srcdir.empty()) {
    size_t pos = program_path.rfind(kWorkspaceComponent);
    if (pos != std::string::npos) {
      candidate = program_path.substr(0, pos);
      if (os_helper->IsDirectoryAccessible(candidate)) srcdir = candidate;
    }
  }

  if (srcdir.empty()) srcdir = DirName(os_helper->GetCwd());

  CHECK(os_helper->IsDirectoryAccessible(srcdir))
      << "srcdir \"" << srcdir << "\" is not accessible!";
  return srcdir;
}

}  // namespace internal

std::string GetProgramPath() {
  const char* execfn = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  std::unique_ptr<internal::OsInterface> os_helper =
      internal::NewPosixEnvironment();
  return internal::GetProgramPath(execfn, program_invocation_name,
                                  os_helper.get());
}

std::string GetRunfilesPath(kelmbase::StringPiece relative) {
  std::unique_ptr<internal::OsInterface> os_helper =
      internal::NewPosixEnvironment();
  std::string path =
      internal::GetRunfilesDir(GetProgramPath(), os_helper.get());
  path += '/';
  path.append(relative.data(), relative.size());
  return path;
}

}  // namespace devtools_build
