// A do-nothing host with the same framing as quorvane-host.exe: reads each frame whole
// and answers a fixed reply. The round-trip benchmark measures the host against it, so
// that what is left over is the host's own cost (parse, dispatch, serialise).
#include <windows.h>

#include <vector>

namespace {

bool read_exactly(HANDLE in, char* p, DWORD n) {
  while (n > 0) {
    DWORD got = 0;
    if (!ReadFile(in, p, n, &got, nullptr) || got == 0) return false;
    p += got;
    n -= got;
  }
  return true;
}

}  // namespace

int main() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  static const char kReply[] = "\x19\x00\x00\x00{\"id\":1,\"result\":\"2.0.7\"}";
  std::vector<char> payload;
  for (;;) {
    unsigned char header[4];
    if (!read_exactly(in, reinterpret_cast<char*>(header), 4)) return 0;
    DWORD n = header[0] | (header[1] << 8) | (header[2] << 16) | (static_cast<DWORD>(header[3]) << 24);
    payload.resize(n);
    if (!read_exactly(in, payload.data(), n)) return 0;
    DWORD written = 0;
    if (!WriteFile(out, kReply, sizeof kReply - 1, &written, nullptr)) return 0;
  }
}
