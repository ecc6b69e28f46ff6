#include "base/plovexinit.h"

#include "logging/check.h"
#include "logging/log.h"

namespace {

std::map<std::string, ModuleInitializerRegistry::TypeTable>* g_types = nullptr;

}  // namespace

ModuleInitializer::ModuleInitializer(const char* type, const char* name,
                                     InitFunction init)
    : type_(type), name_(name), init_(init), running_(false), done_(false) {
  absl::MutexLock lock(&ModuleInitializerRegistry::mutex());
  ModuleInitializerRegistry::TypeTable* table =
      ModuleInitializerRegistry::GetType(type);
  InitializerData* idata = table->Add(type, name, this);
  CHECK(!idata->initializer_obj_constructed)
      << ": Multiple occurrences of initializer '" << name << "'";
  idata->initializer_obj_constructed = true;
}

absl::Mutex& ModuleInitializerRegistry::mutex() {
  static absl::Mutex mu;
  return mu;
}

ModuleInitializerRegistry::TypeTable* ModuleInitializerRegistry::GetType(
    const char* type) {
  mutex().AssertHeld();
  if (g_types == nullptr) g_types = new std::map<std::string, TypeTable>();
  return &(*g_types)[type];
}

InitializerData* ModuleInitializerRegistry::TypeTable::Add(
    const char* type, const char* name, const ModuleInitializer* init) {
  if (executed_) {
    LOG(ERROR) << "Registering initializer '" << name
               << "' too late: some initializers of type '" << type
               << "' have executed";
  }
  InitializerData* idata = &initializers_[name];
  if (idata->initializer_obj == nullptr) idata->initializer_obj = init;
  CHECK_EQ(idata->initializer_obj, init)
      << "There is more than one initializer with name '" << name << "'";
  return idata;
}
