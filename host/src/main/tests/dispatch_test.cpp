#include "main/dispatch.h"
#include "main/json.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

std::string answer(std::string_view request_text) {
  json request;
  EXPECT_TRUE(parse_json(request_text, request)) << request_text;
  return to_json_text(dispatch_request(request));
}

TEST(Dispatch, EnvelopeAndVersion) {
  EXPECT_EQ(answer(R"({"id":"a","method":"get_version"})"), R"({"id":"a","result":"2.0.7"})");
  EXPECT_EQ(answer(R"({"method":"get_version"})"), R"({"id":null,"result":"2.0.7"})");
  EXPECT_EQ(answer(R"({"id":7,"method":"get_version","params":"ignored"})"), R"({"id":7,"result":"2.0.7"})");
  EXPECT_EQ(answer(R"({"id":1.0,"method":"get_version"})"), R"({"id":1.0,"result":"2.0.7"})");
  EXPECT_EQ(answer(R"({"id":{"z":1,"a":2},"method":"get_version"})"), R"({"id":{"a":2,"z":1},"result":"2.0.7"})");
  EXPECT_EQ(answer(R"({"id":-3,"method":"get_version","extra":[1]})"), R"({"id":-3,"result":"2.0.7"})");
}

TEST(Dispatch, UnknownNamesAreAnsweredWithTheNameExactly) {
  EXPECT_EQ(answer(R"({"id":3,"method":"Get_Version"})"), R"({"error":{"message":"Unknown method: Get_Version"},"id":3})");
  EXPECT_EQ(answer(R"({"id":4})"), R"({"error":{"message":"Unknown method: "},"id":4})");
  EXPECT_EQ(answer(R"({"id":5,"method":17})"), R"({"error":{"message":"Unknown method: "},"id":5})");
  EXPECT_EQ(answer(R"({"id":6,"method":" get_version"})"),
            R"({"error":{"message":"Unknown method:  get_version"},"id":6})");
  EXPECT_EQ(answer(R"({"id":8,"method":"a\"b\u0001"})"),
            R"({"error":{"message":"Unknown method: a\"b\u0001"},"id":8})");
}

TEST(Dispatch, NonObjectRequestsGetANullId) {
  for (const char* text : {"[1,2,3]", "42", "\"get_version\"", "true", "null"})
    EXPECT_EQ(answer(text), R"({"error":{"message":"Unknown method: "},"id":null})") << text;
}

TEST(Dispatch, TableNamesAreUnique) {
  // A name registered twice would silently shadow a subsystem's handler.
  EXPECT_TRUE(find_table_handler("get_version").has_value());
  EXPECT_FALSE(find_table_handler("").has_value());
  EXPECT_FALSE(find_table_handler("Unknown").has_value());
}

}  // namespace
}  // namespace quorvane
