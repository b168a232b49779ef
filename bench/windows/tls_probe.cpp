// What a TLS back-end of libcurl costs the Windows build. Built twice by
// scripts/measure-windows-tls.sh, once on curl with OpenSSL (MIRAVA_PROBE_OPENSSL: one certificate
// store filled from the system's "ROOT" store and shared by every handle, as the engine does) and
// once on curl with Schannel (Windows' own TLS and its own verification), and run under wine or on
// Windows:
//   tls_probe check URL [HOST:PORT:IP]  one request (HOST resolved to IP when given); prints
//                                       "ok <status>" or "refused <curl's message>"
//   tls_probe hold URL WORKERS          WORKERS threads each send one request that the site never
//                                       answers; once every request is out, prints the working
//                                       set and the CPU time the process has taken
// MIRAVA_PROBE_EXTRA_CA names a PEM file whose authority the OpenSSL store trusts besides "ROOT":
// wine's "ROOT" store is the host's authorities and keeps no certificate added to it.
// Requests use the engine's TLS profile (HTTP/1.1, TLS 1.2 only).
#include <windows.h>
#include <winsock2.h>
// psapi.h needs windows.h first.
#include <psapi.h>

#ifdef MIRAVA_PROBE_OPENSSL
// wincrypt.h names macros after OpenSSL's types.
#undef X509_NAME
#undef X509_EXTENSIONS
#undef PKCS7_SIGNER_INFO
#undef OCSP_REQUEST
#undef OCSP_RESPONSE
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "platform/system_certificates.h"
#endif

#include <curl/curl.h>

#include "bench/curl_handle_profile.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

#ifdef MIRAVA_PROBE_OPENSSL
X509_STORE* g_shared_store = nullptr;

// The engine's store: the system's authorities, built once.
void BuildSharedStore() {
  g_shared_store = X509_STORE_new();
  X509_STORE_set_flags(g_shared_store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
  mirava::platform::LoadSystemCertificates(g_shared_store);
  const char* extra = std::getenv("MIRAVA_PROBE_EXTRA_CA");
  if (extra != nullptr) {
    mirava::platform::LoadPemFile(g_shared_store, extra);
  }
}

CURLcode UseSharedStore(CURL*, void* ssl_ctx, void*) {
  X509_STORE_up_ref(g_shared_store);
  SSL_CTX_set_cert_store(static_cast<SSL_CTX*>(ssl_ctx), g_shared_store);
  return CURLE_OK;
}
#endif

std::atomic<int> g_requests_out{0};
std::atomic<int> g_failed{0};

// Called once the connection and its handshake (verification included) are done.
int CountRequestOut(void*, char*, char*, int, int) {
  ++g_requests_out;
  return CURL_PREREQFUNC_OK;
}

CURL* NewHandle(const std::string& url, char* error_text) {
  CURL* easy = mirava::bench::NewProfiledHandle(url);
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_text);
#ifdef MIRAVA_PROBE_OPENSSL
  curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &UseSharedStore);
#endif
  return easy;
}

double WorkingSetMb() {
  PROCESS_MEMORY_COUNTERS counters{};
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
}

double CpuMs() {
  FILETIME created;
  FILETIME ended;
  FILETIME kernel;
  FILETIME user;
  GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  const auto ms = [](const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 10000.0;
  };
  return ms(kernel) + ms(user);
}

int Check(const std::string& url, const char* resolve) {
  char error_text[CURL_ERROR_SIZE] = "";
  CURL* easy = NewHandle(url, error_text);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 10000L);
  curl_slist* resolved = nullptr;
  if (resolve != nullptr) {
    resolved = curl_slist_append(nullptr, resolve);
    curl_easy_setopt(easy, CURLOPT_RESOLVE, resolved);
  }
  const CURLcode code = curl_easy_perform(easy);
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (code == CURLE_OK) {
    std::printf("ok %ld\n", status);
  } else {
    std::printf("refused %d %s\n", static_cast<int>(code),
                error_text[0] != '\0' ? error_text : curl_easy_strerror(code));
  }
  curl_easy_cleanup(easy);
  curl_slist_free_all(resolved);
  return 0;
}

struct HoldJob {
  std::string url;
  std::string first_error;  // written by the first failing thread only
  std::atomic<bool> error_taken{false};
};

DWORD WINAPI HoldOne(void* argument) {
  auto* job = static_cast<HoldJob*>(argument);
  char error_text[CURL_ERROR_SIZE] = "";
  CURL* easy = NewHandle(job->url, error_text);
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &CountRequestOut);
  const CURLcode code = curl_easy_perform(easy);  // the site never answers
  if (code != CURLE_OK) {
    if (!job->error_taken.exchange(true)) {
      job->first_error = error_text[0] != '\0' ? error_text : curl_easy_strerror(code);
    }
    ++g_failed;
  }
  curl_easy_cleanup(easy);
  return 0;
}

int Hold(const std::string& url, int workers) {
  HoldJob job;
  job.url = url;
  const double start_mb = WorkingSetMb();
  double store_mb = 0;
#ifdef MIRAVA_PROBE_OPENSSL
  BuildSharedStore();
  store_mb = WorkingSetMb() - start_mb;
#endif
  const ULONGLONG started = GetTickCount64();
  int started_threads = 0;
  for (int i = 0; i < workers; ++i) {
    // The engine's workers reserve 256 KB of stack each.
    const HANDLE thread = CreateThread(nullptr, 256 * 1024, &HoldOne, &job,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
      break;
    }
    CloseHandle(thread);
    ++started_threads;
  }
  while (g_requests_out.load() + g_failed.load() < started_threads &&
         GetTickCount64() - started < 300000) {
    Sleep(50);
  }
  const double seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
  const int held = g_requests_out.load();
  std::printf(
      "workers %d held %d failed %d working_set_mb %.1f start_mb %.1f store_mb %.2f cpu_ms %.0f "
      "seconds %.1f\n",
      started_threads, held, g_failed.load(), WorkingSetMb(), start_mb, store_mb, CpuMs(), seconds);
  if (g_failed.load() > 0) {
    std::printf("first failure: %s\n", job.first_error.c_str());
  }
  std::fflush(stdout);
  ExitProcess(0);  // the workers are still waiting for their pages
}

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_ALL);
  const std::string command = argc > 1 ? argv[1] : "";
#ifdef MIRAVA_PROBE_OPENSSL
  if (command == "check") {
    BuildSharedStore();
  }
#endif
  if (command == "check" && (argc == 3 || argc == 4)) {
    return Check(argv[2], argc == 4 ? argv[3] : nullptr);
  }
  if (command == "hold" && argc == 4) {
    return Hold(argv[2], std::atoi(argv[3]));
  }
  std::printf("usage: tls_probe check URL [HOST:PORT:IP] | hold URL WORKERS\n");
  return 2;
}
