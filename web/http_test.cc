#include "web/http.h"

#include <gtest/gtest.h>

namespace annc::web {
namespace {

TEST(HttpTest, ParseForm) {
  using Fields = std::map<std::string, std::string>;
  struct Case {
    std::string text;
    bool ok;
    Fields fields;
  } cases[] = {
      {"", true, {}},
      {"a=1&b=2", true, {{"a", "1"}, {"b", "2"}}},
      {"name=Ann+Lee&x=%3Cb%3E%26", true, {{"name", "Ann Lee"}, {"x", "<b>&"}}},
      {"a=1&a=2", true, {{"a", "1"}}},
      {"flag&&e=", true, {{"flag", ""}, {"e", ""}}},
      {"k=%2", false, {}},
      {"k=%", false, {}},
      {"k=%zz", false, {}},
      {"%4=1", false, {}},
      {"nul=%00", true, {{"nul", std::string(1, '\0')}}},
  };
  for (const Case& c : cases) {
    Fields fields;
    EXPECT_EQ(ParseForm(c.text, &fields), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(fields, c.fields) << c.text;
    }
  }
  std::string many;
  for (std::size_t i = 0; i <= kMaxFields; ++i) many += "f" + std::to_string(i) + "=1&";
  Fields fields;
  EXPECT_FALSE(ParseForm(many, &fields));
}

TEST(HttpTest, WithQuery) {
  EXPECT_EQ(WithQuery("/", {}), "/");
  EXPECT_EQ(WithQuery("/caller", {{"number", "+49 (30) 1&2=3"}}), "/caller?number=%2B49%20%2830%29%201%262%3D3");
  EXPECT_EQ(WithQuery("/", {{"day", "2024-05-01"}, {"page", "2"}}), "/?day=2024-05-01&page=2");
}

TEST(HttpTest, RouteTable) {
  RouteTable routes;
  routes.Add({"GET", "/", nullptr});
  routes.Add({"POST", "/caller/block", nullptr});
  struct Case {
    const char* method;
    const char* path;
    bool found;
    bool known;
  } cases[] = {
      {"GET", "/", true, true},          {"POST", "/", false, true},
      {"POST", "/caller/block", true, true}, {"GET", "/caller/block", false, true},
      {"GET", "/caller/block/", false, false}, {"GET", "/../../etc/passwd", false, false},
      {"GET", "//", false, false},       {"GET", "/index.html", false, false},
  };
  for (const Case& c : cases) {
    bool known;
    EXPECT_EQ(routes.Find(c.method, c.path, &known) != nullptr, c.found) << c.method << " " << c.path;
    EXPECT_EQ(known, c.known) << c.method << " " << c.path;
  }
}

}  // namespace
}  // namespace annc::web
