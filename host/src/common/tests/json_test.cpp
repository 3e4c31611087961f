#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "common/json.h"
#include "common/utf.h"
#include "lumetra/cpu.h"

namespace quorvane {
namespace {

std::optional<json> parsed(std::string_view text) {
  json value;
  if (!parse_json(text, value)) return std::nullopt;
  return value;
}

bool accepts(std::string_view text) { return parsed(text).has_value(); }

bool is_digit_char(char c) { return c >= '0' && c <= '9'; }

// Concatenation without operator+ on a literal: GCC 12 reports a false -Wrestrict for
// `"x" + std::string(...)` at -O3.
std::string cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out.append(part);
  return out;
}

// Runs `body` with the SSE2 string scan and with AVX2 where the CPU has it. (The byte
// loop that the Scalar level would use alone finishes every vector scan's tail anyway.)
template <typename Body>
void with_each_scan(Body body) {
  constexpr lumetra::cpu::Level kScans[] = {lumetra::cpu::Level::Sse2, lumetra::cpu::Level::Avx2};
  lumetra::cpu::for_each_level(kScans, [&](lumetra::cpu::Level level) {
    SCOPED_TRACE(lumetra::cpu::level_name(level));
    body();
  });
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(JsonParse, ConformanceFolder) {
  const std::filesystem::path dir = std::filesystem::path(QUORVANE_TESTDATA_DIR) / "json-parsing";
  int must_parse = 0, must_fail = 0;
  std::vector<std::string> wrong;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 2 || name[1] != '_' || (name[0] != 'y' && name[0] != 'n')) continue;
    const bool expect_ok = name[0] == 'y';
    (expect_ok ? must_parse : must_fail)++;
    if (accepts(read_file(entry.path())) != expect_ok) wrong.push_back(name);
  }
  // The folder holds 95 files that must parse and 188 that must not; an empty or
  // unreadable folder must not pass quietly.
  EXPECT_GE(must_parse, 95);
  EXPECT_GE(must_fail, 188);
  EXPECT_TRUE(wrong.empty()) << ::testing::PrintToString(wrong);
}

TEST(JsonParse, NestingLimit) {
  const auto nested_arrays = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_TRUE(accepts(nested_arrays(1)));
  EXPECT_TRUE(accepts(nested_arrays(127)));
  EXPECT_FALSE(accepts(nested_arrays(128)));
  EXPECT_FALSE(accepts(std::string(100000, '[')));
  EXPECT_FALSE(accepts(nested_arrays(100000)));

  const auto nested_objects = [](int depth) {
    std::string text;
    for (int i = 0; i < depth - 1; ++i) text += "{\"k\":";
    text += "{}";
    return text + std::string(depth - 1, '}');
  };
  EXPECT_TRUE(accepts(nested_objects(127)));
  EXPECT_FALSE(accepts(nested_objects(128)));

  // The limit counts open containers, not how many were seen: siblings at the limit are fine.
  std::string wide = std::string(126, '[') + "[],[],[[]]" + std::string(126, ']');
  EXPECT_FALSE(accepts(wide));  // [[]] reaches 128
  wide = std::string(126, '[') + "[],[],[1]" + std::string(126, ']');
  EXPECT_TRUE(accepts(wide));

  const auto deepest = parsed(nested_arrays(127));
  ASSERT_TRUE(deepest);
  const json* v = &*deepest;
  int depth = 0;
  while (v->is_array() && !v->empty()) v = &(*v)[0], ++depth;
  EXPECT_EQ(depth, 126);  // 127 arrays, the innermost empty
}

TEST(JsonParse, NumberKinds) {
  const auto expect_unsigned = [](std::string_view text, std::uint64_t value) {
    auto v = parsed(text);
    ASSERT_TRUE(v) << text;
    EXPECT_TRUE(v->is_number_unsigned()) << text;
    EXPECT_EQ(v->get<std::uint64_t>(), value) << text;
  };
  const auto expect_signed = [](std::string_view text, std::int64_t value) {
    auto v = parsed(text);
    ASSERT_TRUE(v) << text;
    EXPECT_TRUE(v->is_number_integer() && !v->is_number_unsigned()) << text;
    EXPECT_EQ(v->get<std::int64_t>(), value) << text;
  };
  const auto expect_float = [](std::string_view text, double value) {
    auto v = parsed(text);
    ASSERT_TRUE(v) << text;
    EXPECT_TRUE(v->is_number_float()) << text;
    EXPECT_EQ(v->get<double>(), value) << text;
    EXPECT_EQ(std::signbit(v->get<double>()), std::signbit(value)) << text;
  };
  expect_unsigned("0", 0);
  expect_unsigned("7", 7);
  expect_unsigned("18446744073709551615", std::numeric_limits<std::uint64_t>::max());
  expect_float("18446744073709551616", 18446744073709551616.0);
  expect_float("123456789012345678901234567890", 1.2345678901234568e29);
  // Zero written with a minus sign is still zero: unsigned, like every integer >= 0.
  expect_unsigned("-0", 0);
  expect_signed("-1", -1);
  expect_signed("-9223372036854775808", std::numeric_limits<std::int64_t>::min());
  expect_float("-9223372036854775809", -9223372036854775808.0);
  expect_float("-18446744073709551616", -18446744073709551616.0);
  expect_float("-0.0", -0.0);
  expect_float("0.0", 0.0);
  expect_float("1.0", 1.0);
  expect_float("1E2", 100.0);
  expect_float("1e+2", 100.0);
  expect_float("-2.5e-3", -0.0025);
  expect_float("1.7976931348623157e308", std::numeric_limits<double>::max());
  expect_float("4.9406564584124654e-324", std::numeric_limits<double>::denorm_min());
  // Too small for a double becomes zero, keeping its sign.
  expect_float("1e-400", 0.0);
  expect_float("-1e-400", -0.0);
  expect_float("0.0000000000000000000000000001e-300", 0.0);
  expect_float("0e99999999999999999999", 0.0);
  // Too large for a double is an error.
  EXPECT_FALSE(accepts("1e400"));
  EXPECT_FALSE(accepts("-1e400"));
  EXPECT_FALSE(accepts("1.7976931348623159e308"));
  EXPECT_FALSE(accepts("100000000000000000000e289"));
  EXPECT_FALSE(accepts("[1e99999999999999999999]"));

  for (const char* bad : {"01", "-01", "00", "1.", ".1", "+1", "1e", "1e+", "-", "--1", "0x1", "1.e5", "Infinity",
                          "-Infinity", "NaN", "1_000", "2."}) {
    EXPECT_FALSE(accepts(bad)) << bad;
  }
}

TEST(JsonParse, WhitespaceLiteralsAndStructure) {
  auto v = parsed(" \t\r\n[ 1 ,\n\"a\" , { \"k\" : null } , true,false ]\r\n ");
  ASSERT_TRUE(v);
  EXPECT_EQ(*v, json::parse(R"([1,"a",{"k":null},true,false])"));
  EXPECT_TRUE(accepts("\"\""));
  EXPECT_TRUE(accepts("{}"));
  EXPECT_TRUE(accepts("[]"));
  EXPECT_TRUE(accepts("null"));

  for (const char* bad : {"",
                          " ",
                          "\f1",
                          "\v1",
                          "\xC2\xA0"
                          "1",
                          "\xEF\xBB\xBF{}",
                          "/*c*/1",
                          "1//c",
                          "[1,]",
                          "{\"a\":1,}",
                          "[,1]",
                          "1 2",
                          "tru",
                          "nul",
                          "True",
                          "[",
                          "]",
                          "{\"a\"}",
                          "{\"a\" 1}",
                          "{1:2}",
                          "{'a':1}",
                          "[1]x",
                          "{\"a\":1}}",
                          "[\"a\":1]",
                          "\"abc",
                          "[1,2",
                          "nulll"}) {
    EXPECT_FALSE(accepts(bad)) << ::testing::PrintToString(std::string(bad));
  }
  EXPECT_FALSE(accepts(std::string_view("1\0", 2)));
}

TEST(JsonParse, DuplicateKeysKeepTheLastValue) {
  auto v = parsed(R"({"a":1,"b":[1,2],"a":{"x":true},"b":"last"})");
  ASSERT_TRUE(v);
  EXPECT_EQ(*v, json::parse(R"({"a":{"x":true},"b":"last"})"));
  v = parsed(R"({"a":[[[1]]],"a":2})");
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)["a"], 2);
}

TEST(JsonParse, StringEscapes) {
  auto v = parsed(R"(["\"\\\/\b\f\n\r\t", "\u0041\u00e9\u00E9\u20ac", "\ud83d\ude00", "a\u0000b"])");
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)[0], "\"\\/\b\f\n\r\t");
  EXPECT_EQ((*v)[1], "A\xC3\xA9\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ((*v)[2], "\xF0\x9F\x98\x80");
  EXPECT_EQ((*v)[3].get<std::string>(), std::string("a\0b", 3));

  for (const char* bad : {R"("\ud83d")", R"("\ude00")", R"("\ud83dx")", R"("\ud83d\u0041")", R"("\ud83d\ud83d")",
                          R"("\ud83d\")", R"("\u12")", R"("\u12g4")", R"("\x41")", R"("\a")", R"("\U0041")", R"("\)",
                          "\"tab\there\"", "\"nl\nhere\"", "\"\x1f\""}) {
    EXPECT_FALSE(accepts(bad)) << bad;
  }
  EXPECT_TRUE(accepts("\"\x7f\""));  // DEL is not a control character for JSON
}

TEST(JsonParse, Utf8Validation) {
  const char* good[] = {"\xC2\x80",     "\xDF\xBF",     "\xE0\xA0\x80",     "\xED\x9F\xBF",
                        "\xEE\x80\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF"};
  for (const char* s : good) {
    auto v = parsed(cat({"\"", s, "\""}));
    ASSERT_TRUE(v) << ::testing::PrintToString(std::string(s));
    EXPECT_EQ(*v, s);
  }
  const char* bad[] = {
      "\x80",
      "\xBF",
      "\xC0\xAF",
      "\xC1\xBF",  // stray, overlong
      "\xE0\x80\xAF",
      "\xE0\x9F\xBF",
      "\xF0\x80\x80\xAF",
      "\xF0\x8F\xBF\xBF",  // overlong
      "\xED\xA0\x80",
      "\xED\xBF\xBF",  // surrogates
      "\xF4\x90\x80\x80",
      "\xF5\x80\x80\x80",
      "\xF8\x88\x80\x80\x80",
      "\xFF",
      "\xFE",  // too large
      "\xC3",
      "\xE2\x82",
      "\xF0\x9F\x98",
      "\xC3\x41",  // truncated
      "\xE2\x28\xA1",
  };
  for (const char* s : bad) {
    EXPECT_FALSE(accepts(cat({"\"", s, "\""}))) << ::testing::PrintToString(std::string(s));
    EXPECT_FALSE(accepts(cat({"\"", s}))) << ::testing::PrintToString(std::string(s));
    // Outside strings too.
    EXPECT_FALSE(accepts(cat({"[1]", s})));
    EXPECT_FALSE(accepts(cat({"[", s, "]"})));
  }
}

// Every position around the 16- and 64-byte blocks of the vector scan sees each kind of
// byte that ends a plain run.
TEST(JsonParse, SpecialBytesAtEveryPosition) {
  struct Case {
    std::string insert;
    std::optional<std::string> decoded;  // nullopt: must be rejected
  };
  const Case cases[] = {
      {"\\n", "\n"},
      {"\\\"", "\""},
      {"\xC3\xA9", "\xC3\xA9"},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
      {"\x01", std::nullopt},
      {"\xFF", std::nullopt},
      {"\xC3", std::nullopt},
      {"\x7F", "\x7F"},
  };
  with_each_scan([&] {
    for (std::size_t len = 0; len <= 140; ++len) {
      for (std::size_t pos = 0; pos <= len; ++pos) {
        for (const auto& c : cases) {
          const std::string before(pos, 'a'), after(len - pos, 'b');
          auto v = parsed(cat({"\"", before, c.insert, after, "\""}));
          if (!c.decoded) {
            ASSERT_FALSE(v) << len << " " << pos;
          } else {
            ASSERT_TRUE(v) << len << " " << pos;
            ASSERT_EQ(v->get_ref<const std::string&>(), before + *c.decoded + after) << len << " " << pos;
          }
        }
      }
    }
  });
}

TEST(JsonParse, LongStrings) {
  with_each_scan([] {
    std::string big(3 * 1024 * 1024 + 5, 'Q');
    for (std::size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('A' + i % 26);
    auto v = parsed(cat({"{\"data\":\"", big, "\",\"n\":1}"}));
    ASSERT_TRUE(v);
    EXPECT_EQ((*v)["data"].get_ref<const std::string&>(), big);

    // An escape and a non-ASCII character near the end of a long run.
    auto w = parsed(cat({"\"", big, "\\t\xC3\xA9", big, "\""}));
    ASSERT_TRUE(w);
    EXPECT_EQ(w->get_ref<const std::string&>(), big + "\t\xC3\xA9" + big);

    // An unterminated long string, and one with a raw control character deep inside.
    EXPECT_FALSE(accepts(cat({"\"", big})));
    std::string broken = cat({"\"", big, "\""});
    broken[big.size() / 2] = '\n';
    EXPECT_FALSE(accepts(broken));
  });
}

TEST(JsonWrite, ScalarsAndStructure) {
  EXPECT_EQ(to_json_text(nullptr), "null");
  EXPECT_EQ(to_json_text(true), "true");
  EXPECT_EQ(to_json_text(false), "false");
  EXPECT_EQ(to_json_text(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(to_json_text(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
  EXPECT_EQ(to_json_text(json::array()), "[]");
  EXPECT_EQ(to_json_text(json::object()), "{}");
  const json reply = {{"id", 7}, {"result", {{"width", 3}, {"b", {1, 2.5, "x", nullptr}}, {"B", json::object()}}}};
  EXPECT_EQ(to_json_text(reply), R"({"id":7,"result":{"B":{},"b":[1,2.5,"x",null],"width":3}})");
  EXPECT_EQ(to_json_text({{"é", 1}, {"z", 2}, {"Z", 3}, {"", 4}}), "{\"\":4,\"Z\":3,\"z\":2,\"\xC3\xA9\":1}");
  EXPECT_EQ(to_json_text(json::binary({1, 2, 3})), "null");

  std::string out = "prefix";
  write_json(json{1, 2}, out);
  EXPECT_EQ(out, "prefix[1,2]");
}

TEST(JsonWrite, StringEscapes) {
  std::string all_controls;
  for (int c = 0; c < 0x20; ++c) all_controls.push_back(static_cast<char>(c));
  EXPECT_EQ(to_json_text(all_controls),
            "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
            "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d"
            "\\u001e\\u001f\"");
  EXPECT_EQ(to_json_text("a\"b\\c/d\x7f\xC3\xA9\xF0\x9F\x98\x80"), "\"a\\\"b\\\\c/d\x7f\xC3\xA9\xF0\x9F\x98\x80\"");
  EXPECT_EQ(to_json_text(json{{"k\"\n", 1}}), "{\"k\\\"\\n\":1}");

  // Escapes at every position around the vector blocks, compared with nlohmann's writer,
  // which escapes the same way for these bytes.
  with_each_scan([] {
    for (std::size_t len = 0; len <= 140; ++len)
      for (std::size_t pos = 0; pos < len; ++pos)
        for (char special : {'"', '\\', '\x01', '\x1f', '\n', '\x7f'}) {
          std::string s(len, 'x');
          s[pos] = special;
          ASSERT_EQ(to_json_text(s), json(s).dump()) << len << " " << pos;
        }
  });
}

TEST(JsonWrite, Floats) {
  // Plain decimals from 0.0001 to below 1e15, whole numbers with ".0"; exponent notation
  // outside that range, without '+' or leading zeros.
  const std::pair<double, const char*> cases[] = {
      {1.0, "1.0"},
      {1.25, "1.25"},
      {0.1, "0.1"},
      {12.0, "12.0"},
      {-3.0, "-3.0"},
      {96.0, "96.0"},
      {144.0, "144.0"},
      {120.0, "120.0"},
      {1920.0, "1920.0"},
      {100.0, "100.0"},
      {1e300, "1e300"},
      {1e20, "1e20"},
      {1e-7, "1e-7"},
      {0.0001, "0.0001"},
      {0.001, "0.001"},
      {0.01, "0.01"},
      {0.5, "0.5"},
      {0.015625, "0.015625"},
      {1.1458333730697632, "1.1458333730697632"},
      {5e-324, "5e-324"},
      {-2.5e-308, "-2.5e-308"},
      {1.7976931348623157e308, "1.7976931348623157e308"},
      {18446744073709551616.0, "1.8446744073709552e19"},
      {123456789012345680.0, "1.2345678901234568e17"},
      {1234567.0, "1234567.0"},
      {1000.0, "1000.0"},
      {0.00012, "0.00012"},
      {0.00001, "1e-5"},
      {99999999999999.9, "99999999999999.9"},
      {100000000000000.0, "100000000000000.0"},
      {1e15, "1e15"},
      {-0.0, "-0.0"},
      {0.0, "0.0"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(to_json_text(value), text) << text;
  EXPECT_EQ(to_json_text(std::numeric_limits<double>::quiet_NaN()), "null");
  EXPECT_EQ(to_json_text(std::numeric_limits<double>::infinity()), "null");
  EXPECT_EQ(to_json_text(-std::numeric_limits<double>::infinity()), "null");
  // A request id of 1.0 comes back as 1.0, one of 7 as 7; one too large for an integer
  // comes back as its shortest float.
  EXPECT_EQ(to_json_text(*parsed("1.0")), "1.0");
  EXPECT_EQ(to_json_text(*parsed("7")), "7");
  EXPECT_EQ(to_json_text(*parsed("-0.0")), "-0.0");
  EXPECT_EQ(to_json_text(*parsed("18446744073709551616")), "1.8446744073709552e19");
}

// Significant digits of a float's text: no sign, point, exponent, leading zeros or the
// zeros that only pad a plain decimal.
std::string significant_digits(std::string_view text) {
  std::string digits;
  for (char c : text.substr(0, text.find('e')))
    if (is_digit_char(c)) digits.push_back(c);
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return digits;
}

TEST(JsonWrite, FloatsAreShortestAndReadBack) {
  std::mt19937_64 rng(99);
  std::vector<double> values;
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (std::isfinite(d)) values.push_back(d);
  }
  // Short decimals of every magnitude, where the choice between notations is closest.
  for (int e = -30; e <= 30; ++e)
    for (double m : {1.0, 2.0, 5.0, 12.0, 125.0, 3.5, 99.0, 1234.0, 0.3}) values.push_back(m * std::pow(10.0, e));
  for (int i = 0; i < 50000; ++i) values.push_back(static_cast<double>(rng() >> (rng() % 64)));

  for (double value : values) {
    const std::string text = to_json_text(value);
    double back = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_TRUE(result.ec == std::errc() && result.ptr == text.data() + text.size()) << text;
    ASSERT_EQ(std::memcmp(&back, &value, sizeof back), 0) << text;
    // Shortest round-trip digits, as the standard library's shortest scientific form has.
    char sci[64];
    const auto sci_end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
    ASSERT_EQ(significant_digits(text), significant_digits(std::string_view(sci, sci_end - sci))) << text;
    // Still a float, without '+' or padded exponents; plain exactly from 0.0001 to below 1e15.
    ASSERT_NE(text.find_first_of(".e"), std::string::npos) << text;
    ASSERT_EQ(text.find('+'), std::string::npos) << text;
    ASSERT_EQ(text.find("e0"), std::string::npos) << text;
    ASSERT_EQ(text.find("e-0"), std::string::npos) << text;
    const double magnitude = std::fabs(value);
    const bool plain = magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e15);
    ASSERT_EQ(text.find('e') == std::string::npos, plain) << text;
    ASSERT_EQ(*parsed(text), json(value)) << text;
  }
}

TEST(JsonWrite, MalformedUtf8BecomesReplacementCharacters) {
  // Each maximal invalid subpart becomes one U+FFFD; NUL is escaped, never a cut.
  const std::string r = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> cases[] = {
      {std::string("\xC1\xFF\x00T PNG chunk not known", 24), r + r + "\\u0000T PNG chunk not known"},
      {"\x80"
       "AAA",
       r + "AAA"},
      {"\xE2\x82", r},  // cut 3-byte sequence: one replacement
      {"\xE2\x82"
       "A",
       r + "A"},
      {"\xF0\x9F\x98", r},  // cut 4-byte sequence
      {"\xF0\x9F\x98\xF0\x9F\x98\x80", r + "\xF0\x9F\x98\x80"},
      {"\xED\xA0\x80", r + r + r},  // encoded surrogate
      {"\xC0\xAF", r + r},          // overlong
      {"\xE0\x80\xAF", r + r + r},
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xF5\xFF\xFE", r + r + r},
      {"\xEF\xBF\xBD", r},  // a real U+FFFD stays
      {"caf\xC3\xA9 \xC3", "caf\xC3\xA9 " + r},
      {"\"\x80\\", "\\\"" + r + "\\\\"},
  };
  with_each_scan([&] {
    for (const auto& [input, expected] : cases) {
      EXPECT_EQ(to_json_text(input), "\"" + expected + "\"") << ::testing::PrintToString(input);
      EXPECT_EQ(to_json_text(json{{input, 1}}), "{\"" + expected + "\":1}");
    }
    // An invalid byte at every position around the vector blocks.
    for (std::size_t len = 1; len <= 140; ++len)
      for (std::size_t pos = 0; pos < len; ++pos)
        for (const char* bad : {"\x80", "\xFF", "\xC3", "\xE2\x82"}) {
          std::string s(len, 'x');
          s.replace(pos, 1, bad);
          const std::string text = to_json_text(s);
          ASSERT_TRUE(is_valid_utf8(text)) << len << " " << pos;
          ASSERT_EQ(*parsed(text), json(sanitize_utf8(s))) << len << " " << pos;
        }
  });
  // Long strings of well-formed sequences, some with one byte damaged, so that errors
  // fall at every place relative to the 32-byte blocks of the vector check: the check
  // agrees with the shared helper, and the writer's output with its replacement.
  static const char* pieces[] = {"a",
                                 "\n",
                                 "\xC3\xA9",
                                 "\xDF\xBF",
                                 "\xE2\x82\xAC",
                                 "\xED\x9F\xBF",
                                 "\xEE\x80\x80",
                                 "\xEF\xBF\xBF",
                                 "\xF0\x90\x80\x80",
                                 "\xF4\x8F\xBF\xBF",
                                 "\xE0\xA0\x80"};
  std::mt19937 gen(11);
  with_each_scan([&] {
    for (int i = 0; i < 20000; ++i) {
      std::string s;
      for (int n = static_cast<int>(gen() % 60); n > 0; --n) s += pieces[gen() % std::size(pieces)];
      if (!s.empty() && gen() % 2) {
        const std::size_t at = gen() % s.size();
        switch (gen() % 3) {
          case 0:
            s[at] = static_cast<char>(gen());
            break;
          case 1:
            s.erase(at, 1);
            break;
          default:
            s.insert(at, 1, static_cast<char>(0x80 | gen()));
            break;
        }
      }
      ASSERT_EQ(json_detail::well_formed_utf8(s), is_valid_utf8(s)) << ::testing::PrintToString(s);
      const std::string text = to_json_text(s);
      ASSERT_TRUE(is_valid_utf8(text)) << ::testing::PrintToString(s);
      ASSERT_EQ(*parsed(text), json(sanitize_utf8(s))) << ::testing::PrintToString(s);
    }
  });
  // Random bytes: the text is always valid UTF-8 and reads back as the same replacement
  // the shared UTF-8 helper makes.
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    std::string s(rng() % 40, '\0');
    for (char& c : s) c = static_cast<char>(rng() % 3 == 0 ? 0x80 | rng() : rng() % 256);
    const std::string text = to_json_text(s);
    ASSERT_TRUE(is_valid_utf8(text)) << ::testing::PrintToString(s);
    ASSERT_EQ(*parsed(text), json(sanitize_utf8(s))) << ::testing::PrintToString(s);
  }
}

// Random documents: what we write, we (and nlohmann) read back as the same value; and
// apart from floats, whose shortest forms may be spelled differently, our text matches
// nlohmann's compact dump byte for byte.
class RandomJson {
 public:
  explicit RandomJson(unsigned seed) : rng_(seed) {}

  json value(int depth, bool with_floats) {
    switch (depth > 0 ? pick(8) : pick(6)) {
      case 0:
        return nullptr;
      case 1:
        return pick(2) == 0;
      case 2:
        return static_cast<std::int64_t>(rng_()) | std::int64_t{1} << 63;  // negative
      case 3:
        return static_cast<std::uint64_t>(rng_()) >> pick(64);
      case 4:
        return with_floats ? json(finite_double()) : json(pick(1000));
      case 5:
        return text();
      case 6: {
        json a = json::array();
        for (int i = pick(5); i > 0; --i) a.push_back(value(depth - 1, with_floats));
        return a;
      }
      default: {
        json o = json::object();
        for (int i = pick(5); i > 0; --i) o[text()] = value(depth - 1, with_floats);
        return o;
      }
    }
  }

 private:
  int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }

  double finite_double() {
    for (;;) {
      std::uint64_t bits = rng_();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      if (pick(3) == 0) d = static_cast<double>(pick(2000)) / 8.0 - 100.0;
      if (std::isfinite(d)) return d;
    }
  }

  std::string text() {
    static const char* pieces[] = {"a",
                                   "Z",
                                   " ",
                                   "\"",
                                   "\\",
                                   "/",
                                   "\n",
                                   "\t",
                                   "\x01",
                                   "\x1f",
                                   "\x7f",
                                   "\xC3\xA9",
                                   "\xE2\x82\xAC",
                                   "\xF0\x9F\x98\x80",
                                   "0123456789abcdef"};
    std::string s;
    for (int i = pick(40); i > 0; --i) s += pieces[pick(std::size(pieces))];
    return s;
  }

  std::mt19937_64 rng_;
};

TEST(JsonWrite, RandomRoundTrips) {
  RandomJson gen(2024);
  for (int i = 0; i < 400; ++i) {
    const json v = gen.value(4, true);
    const std::string text = to_json_text(v);
    auto back = parsed(text);
    ASSERT_TRUE(back) << text;
    ASSERT_EQ(*back, v) << text;
    ASSERT_EQ(json::parse(text), v) << text;
    ASSERT_EQ(to_json_text(*back), text);
  }
  for (int i = 0; i < 400; ++i) {
    const json v = gen.value(4, false);
    ASSERT_EQ(to_json_text(v), v.dump());
  }
}

// Our parser and nlohmann's strict one must both accept `text` with the same value, or
// both reject it; `accepted` counts the texts both accept.
::testing::AssertionResult agrees_with_reference(const std::string& text, int& accepted) {
  const auto ours = parsed(text);
  json reference;
  bool reference_ok = true;
  try {
    reference = json::parse(text);
  } catch (const json::exception&) {
    reference_ok = false;
  }
  if (ours.has_value() != reference_ok)
    return ::testing::AssertionFailure() << (reference_ok ? "only the reference accepts " : "only we accept ")
                                         << ::testing::PrintToString(text);
  if (!ours) return ::testing::AssertionSuccess();
  ++accepted;
  if (*ours != reference)
    return ::testing::AssertionFailure() << "values differ for " << ::testing::PrintToString(text) << ": "
                                         << ours->dump() << " vs " << reference.dump();
  return ::testing::AssertionSuccess();
}

// Random token soup, judged against nlohmann's own strict parser, which follows the same
// grammar for inputs this shallow (it differs only on nesting depth and a leading BOM,
// which the soup never produces). Both must agree on acceptance and on the value.
TEST(JsonParse, AgreesWithReferenceParserOnRandomInput) {
  static const char* pieces[] = {"[",     "]",
                                 "{",     "}",
                                 ",",     ":",
                                 "\"",    "\"k\"",
                                 "\"\\u", "d83d",
                                 "de00",  "00e9",
                                 "\\",    "n",
                                 "0",     "1",
                                 "9",     "-",
                                 ".",     "e",
                                 "E",     "+",
                                 "true",  "null",
                                 "fals",  " ",
                                 "\n",    "\t",
                                 "\x01",  "\xC3\xA9",
                                 "\xC3",  "\xED\xA0\x80",
                                 "x",     "18446744073709551616"};
  std::mt19937 rng(5);
  int accepted = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (int n = 1 + static_cast<int>(rng() % 8); n > 0; --n) text += pieces[rng() % std::size(pieces)];
    ASSERT_TRUE(agrees_with_reference(text, accepted));
  }
  EXPECT_GT(accepted, 300);  // the soup must get past the first token often enough
}

// Valid documents with one byte replaced, inserted or removed.
TEST(JsonParse, AgreesWithReferenceParserOnMutatedDocuments) {
  RandomJson gen(77);
  std::mt19937 rng(78);
  const char replacements[] = {'"', '\\', ',', ':', '[',    ']',    '{',    '}', '0',
                               '-', 'e',  '.', ' ', '\x01', '\x80', '\xC3', 'u'};
  int accepted = 0;
  for (int i = 0; i < 5000; ++i) {
    std::string text = to_json_text(gen.value(3, true));
    const std::size_t pos = rng() % (text.size() + 1);
    const char c = replacements[rng() % sizeof replacements];
    switch (rng() % 3) {
      case 0:
        if (pos < text.size()) text[pos] = c;
        break;
      case 1:
        text.insert(text.begin() + static_cast<std::ptrdiff_t>(pos), c);
        break;
      default:
        if (pos < text.size()) text.erase(pos, 1);
        break;
    }
    ASSERT_TRUE(agrees_with_reference(text, accepted));
  }
  EXPECT_GT(accepted, 300);
}

}  // namespace
}  // namespace quorvane
