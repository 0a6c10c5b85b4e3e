#include <gtest/gtest.h>

#include "base/url.h"

using namespace corvid;

TEST(Url, ResolvingAnAbsolutePathKeepsOnlySchemeAndAuthority) {
  EXPECT_EQ(resolveUrl("https://relay.example:8443/base/path?q=1", "/v1/push"),
            "https://relay.example:8443/v1/push");
  EXPECT_EQ(resolveUrl("http://127.0.0.1:9000", "/v1/pair"), "http://127.0.0.1:9000/v1/pair");
  EXPECT_EQ(resolveUrl("relay.example", "/v1/push"), std::nullopt);  // no scheme
  EXPECT_EQ(resolveUrl("https://exa mple", "/v1/push"), std::nullopt);
}

TEST(Url, PathOfPageUrls) {
  EXPECT_EQ(urlPath("https://www.instagram.com/accounts/login/?next=%2F"), "/accounts/login/");
  EXPECT_EQ(urlPath("https://www.instagram.com"), "");
  EXPECT_EQ(urlPath(""), "");
}
