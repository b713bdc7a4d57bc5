// One owner for every handle and GDI object: released exactly once, never
// copied (a copy would release twice), moved when ownership changes hands.
#pragma once

#include <windows.h>

#include <utility>

namespace umbrane::win32 {

template <typename T, typename Traits>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) : value_(value) {}
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }
  ~UniqueResource() { Reset(); }

  T Get() const { return value_; }
  bool Valid() const { return Traits::Valid(value_); }
  T Release() { return std::exchange(value_, T{}); }
  void Reset(T value = T{}) {
    if (Valid()) {
      Traits::Close(value_);
    }
    value_ = value;
  }

 private:
  T value_{};
};

struct KernelHandleTraits {
  // Both "no handle" values of the API count as empty.
  static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { (void)CloseHandle(h); }  // nothing to do when it fails
};

struct GdiObjectTraits {
  static bool Valid(HGDIOBJ object) { return object != nullptr; }
  static void Close(HGDIOBJ object) { (void)DeleteObject(object); }
};

struct IconTraits {
  static bool Valid(HICON icon) { return icon != nullptr; }
  static void Close(HICON icon) { (void)DestroyIcon(icon); }
};

using UniqueHandle = UniqueResource<HANDLE, KernelHandleTraits>;
using UniqueFont = UniqueResource<HFONT, GdiObjectTraits>;
using UniqueIcon = UniqueResource<HICON, IconTraits>;

}  // namespace umbrane::win32
