// Test helpers for the Windows build: low-level hooks that record what reached the system
// input queue, and a window with an edit control to type into.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace quorvane::testing {

struct HookedKey {
  WPARAM message;  // WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP
  DWORD vk;
  DWORD scan;
  DWORD flags;
  ULONG_PTR extra;
  std::size_t order;  // position among all hooked events, keyboard and mouse together
  bool down() const { return message == WM_KEYDOWN || message == WM_SYSKEYDOWN; }
};

struct HookedMouse {
  WPARAM message;
  POINT pt;
  DWORD data;
  DWORD flags;
  ULONG_PTR extra;
  std::size_t order;
};

// Spins until `done()` holds or `timeout_ms` passes, dispatching this thread's messages so
// its windows keep working meanwhile.
template <typename Done>
bool pump_until(Done done, int timeout_ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Sleep(5);
  }
}

// Low-level keyboard (and optionally mouse) hooks on a thread of their own, recording
// every event they see. Hooks carry no context pointer, so one recorder at a time.
class InputHooks {
 public:
  explicit InputHooks(bool with_mouse_hook) {
    if (active_ != nullptr) throw std::logic_error("one InputHooks at a time");
    active_ = this;
    thread_ = std::thread([this, with_mouse_hook] {
      MSG msg;
      PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // give the thread a queue first
      HHOOK keyboard = SetWindowsHookExW(WH_KEYBOARD_LL, on_key, GetModuleHandleW(nullptr), 0);
      HHOOK mouse = with_mouse_hook ? SetWindowsHookExW(WH_MOUSE_LL, on_mouse, GetModuleHandleW(nullptr), 0) : nullptr;
      installed_ = keyboard != nullptr && (mouse != nullptr || !with_mouse_hook);
      thread_id_ = GetCurrentThreadId();
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
      if (mouse) UnhookWindowsHookEx(mouse);
      if (keyboard) UnhookWindowsHookEx(keyboard);
    });
    while (thread_id_ == 0) Sleep(1);
  }
  ~InputHooks() {
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
    active_ = nullptr;
  }
  InputHooks(const InputHooks&) = delete;
  InputHooks& operator=(const InputHooks&) = delete;

  bool installed() const { return installed_; }

  std::vector<HookedKey> keys() {
    std::lock_guard lock(mutex_);
    return keys_;
  }
  std::vector<HookedMouse> mice() {
    std::lock_guard lock(mutex_);
    return mice_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    keys_.clear();
    mice_.clear();
  }
  bool wait_for(std::size_t key_count, std::size_t mouse_count, int timeout_ms = 5000) {
    return pump_until(
        [&] {
          std::lock_guard lock(mutex_);
          return keys_.size() >= key_count && mice_.size() >= mouse_count;
        },
        timeout_ms);
  }

 private:
  static LRESULT CALLBACK on_key(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
      const auto* k = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
      std::lock_guard lock(active_->mutex_);
      active_->keys_.push_back({message, k->vkCode, k->scanCode, k->flags, k->dwExtraInfo, active_->next_order_++});
    }
    return CallNextHookEx(nullptr, code, message, data);
  }
  static LRESULT CALLBACK on_mouse(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
      const auto* m = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
      std::lock_guard lock(active_->mutex_);
      active_->mice_.push_back({message, m->pt, m->mouseData, m->flags, m->dwExtraInfo, active_->next_order_++});
    }
    return CallNextHookEx(nullptr, code, message, data);
  }

  static inline InputHooks* active_ = nullptr;
  std::thread thread_;
  std::atomic<DWORD> thread_id_{0};
  std::atomic<bool> installed_{false};
  std::mutex mutex_;
  std::vector<HookedKey> keys_;
  std::vector<HookedMouse> mice_;
  std::size_t next_order_ = 0;
};

// A top-level window holding a multi-line edit control, brought to the foreground with the
// keyboard focus in the edit control.
class EditWindow {
 public:
  EditWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuorvaneInputTestWindow";
    RegisterClassW(&wc);
    frame_ = CreateWindowExW(0, wc.lpszClassName, L"input test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 600, 400,
                             nullptr, nullptr, wc.hInstance, nullptr);
    edit_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL, 0,
                            0, 580, 360, frame_, nullptr, wc.hInstance, nullptr);
    focus();
  }
  ~EditWindow() { DestroyWindow(frame_); }
  EditWindow(const EditWindow&) = delete;
  EditWindow& operator=(const EditWindow&) = delete;

  bool valid() const { return frame_ != nullptr && edit_ != nullptr; }
  HWND frame() const { return frame_; }

  void focus() {
    ShowWindow(frame_, SW_SHOW);
    SetForegroundWindow(frame_);
    SetFocus(edit_);
    pump_until([] { return false; }, 100);
  }
  std::wstring text() const {
    std::wstring s(static_cast<std::size_t>(GetWindowTextLengthW(edit_)) + 1, L'\0');
    s.resize(static_cast<std::size_t>(GetWindowTextW(edit_, s.data(), static_cast<int>(s.size()))));
    return s;
  }
  void clear() { SetWindowTextW(edit_, L""); }
  // Waits for typed input to land.
  bool wait_for_text(const std::wstring& expected, int timeout_ms = 5000) {
    return pump_until([&] { return text() == expected; }, timeout_ms);
  }

 private:
  HWND frame_ = nullptr;
  HWND edit_ = nullptr;
};

}  // namespace quorvane::testing
