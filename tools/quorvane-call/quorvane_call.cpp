// quorvane-call: a command-line client for trying the host by hand.
//
//   quorvane-call [--host PATH] METHOD [PARAMS-JSON]
//   quorvane-call [--host PATH] --file REQUESTS
//
// It starts the host, sends the request(s) and prints each reply as one line of JSON.
// REQUESTS holds one request per line: {"method":...,"params":...} (an "id" is added
// when missing); blank lines and lines starting with '#' are skipped. Inside params, a
// string "@base64:PATH" is replaced by the Base64 of that file's bytes, so images and
// files can be named by path: {"image":{"data":"@base64:screen.png"}}.
#include "host_process.h"

#include "common/base64.h"
#include "common/utf.h"
#include "main/json.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using quorvane::json;

constexpr std::string_view kFileMarker = "@base64:";

std::string read_file(const std::string& path) {
  std::ifstream in(std::filesystem::path(quorvane::to_wide(path)), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::move(bytes).str();
}

void expand_file_references(json& value) {
  if (value.is_string()) {
    const std::string& s = value.get_ref<const std::string&>();
    if (s.rfind(kFileMarker, 0) == 0) value = quorvane::base64_encode(read_file(s.substr(kFileMarker.size())));
  } else if (value.is_structured()) {
    for (json& child : value) expand_file_references(child);
  }
}

void print_line(const std::string& text) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  std::string line = text + "\n";
  DWORD written = 0;
  WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

json parse_or_throw(const std::string& text, const char* what) {
  json value;
  if (!quorvane::parse_json(text, value)) throw std::runtime_error(std::string("not valid JSON: ") + what);
  return value;
}

int usage() {
  std::fprintf(stderr,
               "usage: quorvane-call [--host PATH] METHOD [PARAMS-JSON]\n"
               "       quorvane-call [--host PATH] --file REQUESTS\n");
  return 2;
}

int run(const std::vector<std::string>& args) {
  std::wstring host = quorvane::standin::default_host_path();
  std::vector<json> requests;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--host" && i + 1 < args.size()) {
      host = quorvane::to_wide(args[++i]);
    } else if (args[i] == "--file" && i + 1 < args.size()) {
      std::istringstream lines(read_file(args[++i]));
      std::string line;
      while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[line.find_first_not_of(" \t")] == '#')
          continue;
        requests.push_back(parse_or_throw(line, line.c_str()));
      }
    } else if (args[i].rfind("--", 0) == 0) {
      return usage();
    } else {
      json request = {{"method", args[i]}, {"params", json::object()}};
      if (i + 1 < args.size()) request["params"] = parse_or_throw(args[++i], "PARAMS-JSON");
      requests.push_back(std::move(request));
    }
  }
  if (requests.empty()) return usage();

  quorvane::standin::HostProcess process(host);
  int next_id = 1;
  for (json& request : requests) {
    if (!request.is_object()) throw std::runtime_error("a request must be a JSON object");
    if (!request.contains("id")) request["id"] = next_id;
    ++next_id;
    if (request.contains("params")) expand_file_references(request["params"]);
    print_line(quorvane::to_json_text(process.request(request)));
  }
  process.close_input();
  std::optional<DWORD> status = process.wait_exit(10000);
  return status && *status == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(quorvane::from_wide(argv[i]));
  try {
    return run(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvane-call: %s\n", e.what());
    return 1;
  }
}
