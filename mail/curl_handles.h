#pragma once
// libcurl handles, owned by unique_ptr.

#include <curl/curl.h>

#include <memory>

namespace lumopet::mail {

struct CurlEasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;

struct CurlSlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlSlistFree>;

}  // namespace lumopet::mail
