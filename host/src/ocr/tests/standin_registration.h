// Registers the stand-in runtime classes with combase for the life of the object.
#pragma once

#include <string>

namespace quorvane::testing {

class StandinRegistration {
 public:
  StandinRegistration();
  ~StandinRegistration();
  StandinRegistration(const StandinRegistration&) = delete;
  StandinRegistration& operator=(const StandinRegistration&) = delete;

  bool ok() const { return ok_; }
  const std::wstring& dll_path() const { return dll_path_; }

  // Removes any registration of the stand-in classes (also one left by a run that died).
  static void remove_all();

 private:
  bool ok_ = false;
  std::wstring dll_path_;
};

}  // namespace quorvane::testing
