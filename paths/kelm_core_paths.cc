#include "paths/kelm_core_paths.h"

#include <string>

#include "absl/base/call_once.h"
#include "agent/base/base_paths.h"
#include "agent/base/files/file_path.h"
#include "agent/base/files/file_util.h"
#include "agent/base/path_service.h"
#include "logging/check.h"
#include "logging/log.h"
#include "paths/kelm_paths.h"

namespace kelm_core {

namespace {

constexpr char kDefaultClientCertPath[] = "certs/client.crt";
constexpr char kDefaultClientKeyPath[] = "certs/client.key.bin";

// Where the build puts generated files of this project, relative to the
// source root.
constexpr char kGeneratedFilesDir[] = "genfiles/third_party/ambrel";
constexpr char kCommonAssetsDir[] = "common/assets";

bool GetCommonAssetsDir(kelmbase::FilePath* result) {
  kelmbase::FilePath root =
      kelmbase::PathService::GetRequired(kelmbase::DIR_SOURCE_ROOT);

  kelmbase::FilePath installed = root.DirName().Append(kCommonAssetsDir);
  if (kelmbase::PathExists(installed)) {
    *result = installed;
    return true;
  }
  kelmbase::FilePath generated =
      root.Append(kGeneratedFilesDir).Append(kCommonAssetsDir);
  if (kelmbase::PathExists(generated)) {
    *result = generated;
    return true;
  }
  return false;
}

// The OEM configuration of this device names no such path: the answer is
// the empty path, which makes the lookup fail.
bool AnswerUnconfigured(const char* what, kelmbase::FilePath* result) {
  LOG(ERROR) << "Returning empty " << what
             << " path as the OEM configuration file has empty path specified";
  *result = kelmbase::FilePath();
  return true;
}

std::string PathOrDefault(int key, const char* default_path) {
  kelmbase::FilePath path;
  if (!kelmbase::PathService::Get(key, &path)) return default_path;
  return path.value();
}

// Whether the lookup of DIR_KELM_HOME, which the keys under it CHECK, can
// succeed: the path service resolves a path holding ".." against the file
// system and fails when that leads nowhere; nothing else can fail it.
bool KelmHomeResolves() {
  const kelmbase::FilePath home =
      kelmbase::GetHomeDir().Append(vantorel::kKelmHomeRelativePath);
  return !home.ContainsParentReference() ||
         !kelmbase::MakeAbsoluteFilePath(home).empty();
}

}  // namespace

bool PathProvider(int key, kelmbase::FilePath* result) {
  switch (key) {
    case FILE_CLIENT_CERT:
    case FILE_CLIENT_KEY:
    case DIR_DRM_DATA: {
      CHECK(kelmbase::PathService::Get(vantorel::DIR_KELM_HOME, result));
      const char* name = key == FILE_CLIENT_CERT ? "certs/client.crt"
                         : key == FILE_CLIENT_KEY ? "certs/client.key.bin"
                                                  : "tolvane";
      *result = result->Append(name);
      return true;
    }
    case FILE_MODEL_CERT:
    case FILE_MODEL_KEY: {
      CHECK(kelmbase::PathService::Get(kelmbase::DIR_EXE, result));
      *result = result->Append(key == FILE_MODEL_CERT
                                   ? "../certs/model.crt"
                                   : "../certs/model.key.bin");
      return true;
    }
    case FILE_LOG:
      return AnswerUnconfigured("log file", result);
    case DIR_COMMON_ASSETS:
      return GetCommonAssetsDir(result);
    case DIR_LOCALES: {
      // Without common assets the path stays empty and the component is
      // looked for in the working directory.
      kelmbase::FilePath path;
      kelmbase::PathService::Get(DIR_COMMON_ASSETS, &path);
      path = path.AppendAsciiComponent("vantorel_locales");
      if (!kelmbase::PathExists(path)) return false;
      *result = path;
      return true;
    }
    case FILE_CRASH_UPLOADER:
      return AnswerUnconfigured("crash uploader", result);
    case DIR_CRASH_DUMPS:
      return AnswerUnconfigured("crash dumps", result);
    case DIR_SAVED_VOLUMES:
      *result = result->Append("ambrel_saved_volumes");
      return true;
    case FILE_DUMPSTATE:
      return AnswerUnconfigured("dumpstate", result);
    case FILE_DUMPSTATE_LOG_TOOL:
      return AnswerUnconfigured("dumpstate log retrieval utility", result);
    default:
      return false;
  }
}

void RegisterPathProviders() {
  static absl::once_flag registered;
  absl::call_once(registered, [] {
    vantorel::RegisterPathProvider();
    kelmbase::PathService::AddProvider(PathProvider, PATH_START, PATH_END);
  });
}

std::string GetClientCertPath() {
  return PathOrDefault(FILE_CLIENT_CERT, kDefaultClientCertPath);
}

std::string GetClientKeyPath() {
  return PathOrDefault(FILE_CLIENT_KEY, kDefaultClientKeyPath);
}

bool TryGetClientCertPath(std::string* path) {
  if (!KelmHomeResolves()) return false;
  *path = GetClientCertPath();
  return true;
}

bool TryGetClientKeyPath(std::string* path) {
  if (!KelmHomeResolves()) return false;
  *path = GetClientKeyPath();
  return true;
}

}  // namespace kelm_core
