// The floor service_vs_monit sets beside the service: libcurl alone, in a program that does
// nothing else. It fetches the URLs of its command line one after another, one easy handle
// reset before each request and a fresh connection each (as the service's checks), then waits
// one second (as "set daemon 1"), until it is ended by a signal.
//
//   bare_curl_client URL...

#include <curl/curl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace {

volatile sig_atomic_t g_end = 0;

void OnEnd(int) { g_end = 1; }

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(argc < 2 ? stderr : stdout, "usage: bare_curl_client URL...\n");
    return argc < 2 ? 2 : 0;
  }
  struct sigaction action {};
  action.sa_handler = OnEnd;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  CURL* handle = curl_easy_init();
  if (handle == nullptr) return 1;
  while (g_end == 0) {
    for (int i = 1; i < argc && g_end == 0; ++i) {
      curl_easy_reset(handle);
      curl_easy_setopt(handle, CURLOPT_URL, argv[i]);
      curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
      curl_easy_setopt(handle, CURLOPT_FRESH_CONNECT, 1L);
      curl_easy_setopt(handle, CURLOPT_FORBID_REUSE, 1L);
      curl_easy_setopt(handle, CURLOPT_TIMEOUT, 30L);
      curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Discard);
      curl_easy_perform(handle);
    }
    if (g_end == 0) sleep(1);
  }
  curl_easy_cleanup(handle);
  curl_global_cleanup();
  return 0;
}
