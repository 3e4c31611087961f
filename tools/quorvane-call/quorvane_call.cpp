// quorvane-call: a command-line client for trying the host by hand.
//
//   quorvane-call [--host PATH] METHOD [PARAMS-JSON]
//   quorvane-call [--host PATH] --file REQUESTS
//   quorvane-call [--host PATH] --annotate OUT.png search_image|search_relative|search_desktop PARAMS-JSON
//
// It starts the host, sends the request(s) and prints each reply as one line of JSON.
// REQUESTS holds one request per line: {"method":...,"params":...} (an "id" is added
// when missing); blank lines and lines starting with '#' are skipped. Inside params, a
// string "@base64:PATH" is replaced by the Base64 of that file's bytes, so images and
// files can be named by path: {"image":{"data":"@base64:screen.png"}}.
//
// --annotate writes a picture of one search: the searched image (for search_desktop the
// capture, which the host is asked to save) with every matched region outlined in green
// and labelled "#<order> <score>", the search area dashed in blue, search_relative's
// targets in magenta and, when nothing matched, the best candidate below the threshold
// dashed in orange with "<score><<threshold>" (found by asking again with minSimilarity -1).
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "annotate.h"
#include "common/base64.h"
#include "common/json.h"
#include "common/utf.h"
#include "cv/png.h"
#include "cv/requests.h"
#include "host_process.h"

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
               "       quorvane-call [--host PATH] --file REQUESTS\n"
               "       quorvane-call [--host PATH] --annotate OUT.png search_image|search_relative|search_desktop "
               "PARAMS-JSON\n");
  return 2;
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(std::filesystem::path(quorvane::to_wide(path)), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

json& member_object(json& parent, const char* key) {
  json& member = parent[key];
  if (!member.is_object()) member = json::object();
  return member;
}

const json* result_of(const json& reply) {
  const auto it = reply.find("result");
  return it != reply.end() && it->is_object() ? &*it : nullptr;
}

// The monitor a screen search captured: the one of the capture's size that holds the
// first match (any of that size when nothing matched), preferring the primary one.
std::pair<long long, long long> capture_origin(const json& displays, const lumetra::RgbImage& capture,
                                               const json& result) {
  std::optional<json> first;
  if (const auto r = result.find("regions"); r != result.end() && r->is_array() && !r->empty() && (*r)[0].is_object())
    first = (*r)[0].value("matchedRect", (*r)[0].value("anchorRect", json::object()));
  std::optional<std::pair<long long, long long>> any;
  for (const json& m : displays.is_array() ? displays : json::array()) {
    if (m.value("width", -1LL) != capture.width || m.value("height", -1LL) != capture.height) continue;
    const long long x = m.value("x", 0LL), y = m.value("y", 0LL);
    if (first) {
      const long long fx = first->value("x", 0LL), fy = first->value("y", 0LL);
      if (fx >= x && fy >= y && fx < x + capture.width && fy < y + capture.height) return {x, y};
    } else if (m.value("isPrimary", false)) {
      return {x, y};
    }
    if (!any) any = {x, y};
  }
  return any.value_or(std::pair<long long, long long>{0, 0});
}

int run_annotated(quorvane::standin::HostProcess& process, json request, const std::string& out_path) {
  const std::string method = request.value("method", "");
  if (method != "search_image" && method != "search_relative" && method != "search_desktop")
    throw std::runtime_error("--annotate draws search_image, search_relative or search_desktop, not '" + method + "'");
  json& params = member_object(request, "params");
  if (method == "search_relative" && !params.contains("image"))
    throw std::runtime_error(
        "--annotate needs search_relative's 'image': the host keeps no copy of a screen it searched");
  json& options = member_object(params, "options");
  const bool on_screen = method == "search_desktop";
  std::wstring temporary;
  if (on_screen && options.value("saveCaptureOnDisk", false) != true) {
    // Ask the host to keep the very capture it searched.
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, folder);
    temporary = std::wstring(folder) + L"quorvane-call-annotate-" + std::to_wstring(GetCurrentProcessId()) + L".png";
    options["saveCaptureOnDisk"] = true;
    options["capturePath"] = quorvane::from_wide(temporary);
  }
  if (!request.contains("id")) request["id"] = 1;
  expand_file_references(params);
  const json reply = process.request(request);
  print_line(quorvane::to_json_text(reply));
  const json* result = result_of(reply);
  if (!result) throw std::runtime_error("the search failed; nothing to draw");

  lumetra::RgbImage image;
  long long origin_x = 0, origin_y = 0;
  if (on_screen) {
    const std::string capture = result->value("capturePath", "");
    auto decoded = quorvane::cv::decode_picture([&] {
      const std::string b = read_file(capture);
      return std::vector<std::uint8_t>(b.begin(), b.end());
    }());
    if (!temporary.empty()) DeleteFileW(temporary.c_str());
    if (!decoded) throw std::runtime_error("cannot read the capture " + capture + ": " + decoded.error());
    image = std::move(*decoded);
    const json displays =
        process.request({{"id", request["id"]}, {"method", "get_display_list"}, {"params", json::object()}});
    std::tie(origin_x, origin_y) = capture_origin(displays.value("result", json::array()), image, *result);
  } else {
    auto decoded = quorvane::cv::decode_image_param(params["image"], "image");
    if (!decoded) throw std::runtime_error("cannot decode the image: " + decoded.error());
    image = std::move(decoded->image);
  }

  quorvane::annotate::SearchPicture picture;
  picture.result = result;
  picture.origin_x = origin_x;
  picture.origin_y = origin_y;
  const auto min_similarity = options.find("minSimilarity");
  if (min_similarity != options.end() && min_similarity->is_number()) picture.threshold = min_similarity->get<double>();
  const auto area = options.find("searchArea");
  if (options.value("limitSearchArea", false) == true && area != options.end() && area->is_object())
    picture.search_area = quorvane::annotate::Box{area->value("x", 0LL), area->value("y", 0LL),
                                                  area->value("width", 0LL), area->value("height", 0LL)};
  json best;
  if (result->value("regions", json::array()).empty()) {
    // The same search with every score allowed: its first region is the best candidate.
    json again = request;
    json& again_options = again["params"]["options"];
    again_options["minSimilarity"] = -1.0;
    again_options.erase("saveCaptureOnDisk");
    again_options.erase("capturePath");
    const json reply_again = process.request(again);
    if (const json* r = result_of(reply_again); r && !r->value("regions", json::array()).empty()) {
      best = (*r)["regions"][0];
      picture.best_candidate = &best;
    }
  }
  quorvane::annotate::draw_search(image, picture);
  auto png = quorvane::cv::encode_png(image.pixels.data(), image.width, image.height, 3, 96.0);
  if (!png) throw std::runtime_error("cannot encode the picture: " + png.error());
  write_file(out_path, *png);
  std::fprintf(stderr, "quorvane-call: annotated picture written to %s\n", out_path.c_str());
  return 0;
}

int run(const std::vector<std::string>& args) {
  std::wstring host = quorvane::standin::default_host_path();
  std::vector<json> requests;
  std::optional<std::string> annotate_path;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--host" && i + 1 < args.size()) {
      host = quorvane::to_wide(args[++i]);
    } else if (args[i] == "--annotate" && i + 1 < args.size()) {
      annotate_path = args[++i];
    } else if (args[i] == "--file" && i + 1 < args.size()) {
      std::istringstream lines(read_file(args[++i]));
      std::string line;
      while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[line.find_first_not_of(" \t")] == '#') continue;
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
  if (requests.empty() || (annotate_path && requests.size() != 1)) return usage();

  quorvane::standin::HostProcess process(host);
  if (annotate_path) {
    const int status = run_annotated(process, std::move(requests.front()), *annotate_path);
    process.close_input();
    process.wait_exit(10000);
    return status;
  }
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
