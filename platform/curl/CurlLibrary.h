// What the libcurl boundary asks of libcurl besides the transfer itself, as a
// service the boundary takes at construction: the real one by default, one that
// refuses in the tests of that failure path.
#pragma once

#include <curl/curl.h>

namespace vizadavu::platform {

class CurlLibrary {
 public:
  virtual ~CurlLibrary() = default;

  // curl_multi_add_handle. With this libcurl it fails only for misuse this code
  // never makes, but other versions may run out of memory.
  virtual CURLMcode AddHandle(CURLM* multi, CURL* easy) {
    return curl_multi_add_handle(multi, easy);
  }
};

// The real one: libcurl adds the handles.
CurlLibrary& RealCurlLibrary() noexcept;

}  // namespace vizadavu::platform
