#include "tests/support/fake_site.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "tests/support/fake_site_socket.h"
#include "tests/support/test_certificates.h"

namespace mirava::testing {

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::string Compress(std::string_view data, int window_bits) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, window_bits, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) {
    throw std::runtime_error("deflate");
  }
  return out;
}

}  // namespace

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  const std::string wanted = Lower(name);
  for (const auto& [key, value] : Headers) {
    if (Lower(key) == wanted) {
      return value;
    }
  }
  return std::nullopt;
}

FakeResponse FakeResponse::Page(std::string body) {
  FakeResponse response;
  response.Headers.emplace_back("Content-Type", "text/html; charset=utf-8");
  response.Body = std::move(body);
  return response;
}

FakeResponse FakeResponse::Error(int status, std::string reason) {
  FakeResponse response;
  response.Status = status;
  response.Reason = std::move(reason);
  response.Body = "<html><body>error</body></html>";
  return response;
}

FakeResponse FakeResponse::Redirect(std::string location, int status) {
  FakeResponse response;
  response.Status = status;
  response.Headers.emplace_back("Location", std::move(location));
  response.Body = "<html><body>moved</body></html>";
  return response;
}

FakeResponse FakeResponse::Close() {
  FakeResponse response;
  response.CloseWithoutResponse = true;
  return response;
}

FakeResponse FakeResponse::Silence(std::chrono::milliseconds delay) {
  FakeResponse response = Page("<html><body>late</body></html>");
  response.Delay = delay;
  return response;
}

std::string StandardReason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 407:
      return "Proxy Authentication Required";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

std::string GzipEncode(std::string_view data) {
  return Compress(data, 15 + 16);
}

std::string DeflateEncode(std::string_view data) {
  return Compress(data, 15);
}

struct FakeSite::TlsContext {
  SSL_CTX* context = nullptr;
  ~TlsContext() { SSL_CTX_free(context); }
};

// One accepted connection and the thread that serves it.
struct FakeSite::Connection {
  site_socket::Socket fd = site_socket::kNoSocket;
  int number = 0;
  SSL* ssl = nullptr;
  std::thread thread;
  std::atomic<bool> done{false};
  std::string pending;  // bytes read past the end of the last request

  ~Connection() {
    if (thread.joinable()) {
      thread.join();
    }
    if (ssl != nullptr) {
      SSL_free(ssl);
    }
    if (fd != site_socket::kNoSocket) {
      site_socket::Close(fd);
    }
  }

  // Reads some bytes; 0 when the peer closed or the read failed.
  std::size_t Read(char* buffer, std::size_t size) {
    if (ssl != nullptr) {
      const int read = SSL_read(ssl, buffer, static_cast<int>(size));
      return read > 0 ? static_cast<std::size_t>(read) : 0;
    }
    return site_socket::Receive(fd, buffer, size);
  }

  bool Write(std::string_view data) {
    while (!data.empty()) {
      std::size_t written = 0;
      if (ssl != nullptr) {
        const int result = SSL_write(ssl, data.data(), static_cast<int>(data.size()));
        if (result <= 0) {
          return false;
        }
        written = static_cast<std::size_t>(result);
      } else {
        written = site_socket::Send(fd, data.data(), data.size());
        if (written == 0) {
          return false;
        }
      }
      data.remove_prefix(written);
    }
    return true;
  }

  void CloseGracefully() {
    if (ssl != nullptr) {
      SSL_shutdown(ssl);
    }
    site_socket::ShutDown(fd);
  }
};

FakeSite::FakeSite() : FakeSite(0) {}

FakeSite::FakeSite(int port) {
  Listen(port);
}

FakeSite::FakeSite(const TestCertificates& certificates) : tls_(std::make_unique<TlsContext>()) {
  tls_->context = SSL_CTX_new(TLS_server_method());
  if (tls_->context == nullptr) {
    throw std::runtime_error("SSL_CTX_new");
  }
  BIO* cert_bio = BIO_new_mem_buf(certificates.ServerCertPem.data(),
                                  static_cast<int>(certificates.ServerCertPem.size()));
  X509* cert = PEM_read_bio_X509(cert_bio, nullptr, nullptr, nullptr);
  BIO_free(cert_bio);
  BIO* key_bio = BIO_new_mem_buf(certificates.ServerKeyPem.data(),
                                 static_cast<int>(certificates.ServerKeyPem.size()));
  EVP_PKEY* key = PEM_read_bio_PrivateKey(key_bio, nullptr, nullptr, nullptr);
  BIO_free(key_bio);
  const bool loaded = cert != nullptr && key != nullptr &&
                      SSL_CTX_use_certificate(tls_->context, cert) == 1 &&
                      SSL_CTX_use_PrivateKey(tls_->context, key) == 1;
  X509_free(cert);
  EVP_PKEY_free(key);
  if (!loaded) {
    throw std::runtime_error("the fake site's certificate");
  }
  Listen(0);
}

FakeSite::~FakeSite() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
    for (auto& connection : open_) {
      site_socket::ShutDown(connection->fd);
    }
  }
  listener_->Wake();
  if (acceptor_.joinable()) {
    acceptor_.join();
  }
  // The acceptor has ended, so `open_` no longer grows; each connection joins its thread.
  std::vector<std::unique_ptr<Connection>> open;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    open.swap(open_);
  }
  open.clear();
}

void FakeSite::Listen(int port) {
  listener_ = std::make_unique<site_socket::Listener>(port);
  port_ = listener_->Port();
  fallback_ = FakeResponse::Error(404);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

std::string FakeSite::Origin() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

void FakeSite::AcceptLoop() {
  while (listener_->WaitForConnection()) {
    const site_socket::Socket fd = listener_->Accept();
    if (fd == site_socket::kNoSocket) {
      continue;
    }
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    Connection& ref = *connection;
    std::vector<std::unique_ptr<Connection>> finished;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (stopping_) {
        return;  // `connection` closes the socket
      }
      connection->number = ++connections_;
      // Reap connections whose thread has ended, so a long test does not pile them up.
      auto ended = std::stable_partition(open_.begin(), open_.end(),
                                         [](const auto& open) { return !open->done.load(); });
      std::move(ended, open_.end(), std::back_inserter(finished));
      open_.erase(ended, open_.end());
      open_.push_back(std::move(connection));
      ref.thread = std::thread([this, &ref] {
        ServeConnection(ref);
        ref.done.store(true);
      });
    }
    finished.clear();
  }
}

bool FakeSite::WaitQuietly(std::intptr_t fd, std::chrono::milliseconds duration) {
  // Returns false when the peer went away or the site stops before the time is up.
  const auto end = std::chrono::steady_clock::now() + duration;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      return true;
    }
    // The site's destructor shuts the socket down, which ends this wait as well.
    if (site_socket::PeerHangsUpWithin(fd, std::min(left, std::chrono::milliseconds(1000)))) {
      return false;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_) {
      return false;
    }
  }
}

void FakeSite::ServeConnection(Connection& connection) {
  if (tls_) {
    connection.ssl = SSL_new(tls_->context);
    SSL_set_fd(connection.ssl, static_cast<int>(connection.fd));
    if (SSL_accept(connection.ssl) != 1) {
      ERR_clear_error();
      return;
    }
  }
  char buffer[16384];
  for (;;) {
    // One request head.
    std::size_t head_end;
    while ((head_end = connection.pending.find("\r\n\r\n")) == std::string::npos) {
      const std::size_t read = connection.Read(buffer, sizeof buffer);
      if (read == 0) {
        return;
      }
      connection.pending.append(buffer, read);
    }
    const std::string head = connection.pending.substr(0, head_end);
    connection.pending.erase(0, head_end + 4);

    RecordedRequest request;
    request.Connection = connection.number;
    if (connection.ssl != nullptr) {
      request.TlsVersion = SSL_get_version(connection.ssl);
    }
    std::size_t line_end = head.find("\r\n");
    const std::string request_line = head.substr(0, line_end);
    {
      const std::size_t first = request_line.find(' ');
      const std::size_t last = request_line.rfind(' ');
      request.Method = request_line.substr(0, first);
      request.Target = request_line.substr(first + 1, last - first - 1);
      request.Version = request_line.substr(last + 1);
    }
    request.Path = request.Target;
    if (const std::size_t scheme = request.Path.find("://"); scheme != std::string::npos) {
      const std::size_t slash = request.Path.find('/', scheme + 3);
      request.Path = slash == std::string::npos ? "/" : request.Path.substr(slash);
    }
    while (line_end != std::string::npos) {
      const std::size_t start = line_end + 2;
      line_end = head.find("\r\n", start);
      const std::string line = head.substr(start, line_end - start);
      const std::size_t colon = line.find(':');
      if (colon == std::string::npos) {
        continue;
      }
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(" \t"));
      request.Headers.emplace_back(line.substr(0, colon), value);
    }
    // A request body is read and ignored.
    if (auto length = request.Header("Content-Length")) {
      std::size_t wanted = std::stoul(*length);
      while (connection.pending.size() < wanted) {
        const std::size_t read = connection.Read(buffer, sizeof buffer);
        if (read == 0) {
          return;
        }
        connection.pending.append(buffer, read);
      }
      connection.pending.erase(0, wanted);
    }

    {
      std::lock_guard<std::mutex> guard(mutex_);
      request.Number = static_cast<int>(requests_.size()) + 1;
      requests_.push_back(request);
    }
    arrived_.notify_all();

    const FakeResponse response = Choose(request);
    if (response.Delay.count() > 0 && !WaitQuietly(connection.fd, response.Delay)) {
      return;
    }
    if (response.CloseWithoutResponse) {
      connection.CloseGracefully();
      return;
    }
    std::string body = response.Body;
    std::string head_out =
        "HTTP/1.1 " + std::to_string(response.Status) + " " +
        (response.Reason.empty() ? StandardReason(response.Status) : response.Reason) + "\r\n";
    for (const auto& [key, value] : response.Headers) {
      head_out += key + ": " + value + "\r\n";
    }
    if (response.ContentEncoding == FakeResponse::Encoding::Gzip) {
      body = GzipEncode(body);
      head_out += "Content-Encoding: gzip\r\n";
    } else if (response.ContentEncoding == FakeResponse::Encoding::Deflate) {
      body = DeflateEncode(body);
      head_out += "Content-Encoding: deflate\r\n";
    }
    if (!response.CloseDelimited) {
      head_out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    const bool client_closes = Lower(request.Header("Connection").value_or("")) == "close";
    const bool close_after = response.CloseAfter || response.CloseDelimited || client_closes;
    if (close_after) {
      head_out += "Connection: close\r\n";
    }
    head_out += "\r\n";
    if (response.DripEvery.count() > 0) {
      if (!connection.Write(head_out)) {
        return;
      }
      for (const char byte : body) {
        if (!WaitQuietly(connection.fd, response.DripEvery) ||
            !connection.Write(std::string_view(&byte, 1))) {
          return;
        }
      }
    } else if (response.StallMidBody.count() > 0) {
      const std::size_t half = body.size() / 2;
      if (!connection.Write(head_out + body.substr(0, half)) ||
          !WaitQuietly(connection.fd, response.StallMidBody) ||
          !connection.Write(std::string_view(body).substr(half))) {
        return;
      }
    } else if (!connection.Write(head_out + body)) {
      return;
    }
    if (close_after) {
      connection.CloseGracefully();
      return;
    }
  }
}

FakeResponse FakeSite::Choose(const RecordedRequest& request) {
  Handler handler;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    handler = handler_;
  }
  if (handler) {
    if (auto chosen = handler(request)) {
      return *chosen;
    }
  }
  std::lock_guard<std::mutex> guard(mutex_);
  const auto script = scripts_.find(request.Path);
  if (script == scripts_.end() || script->second.empty()) {
    return fallback_;
  }
  std::size_t& served = served_[request.Path];
  const std::size_t index = std::min(served, script->second.size() - 1);
  ++served;
  return script->second[index];
}

void FakeSite::Serve(const std::string& path, FakeResponse response) {
  ServeSequence(path, {std::move(response)});
}

void FakeSite::ServeSequence(const std::string& path, std::vector<FakeResponse> responses) {
  std::lock_guard<std::mutex> guard(mutex_);
  scripts_[path] = std::move(responses);
  served_[path] = 0;
}

void FakeSite::SetHandler(Handler handler) {
  std::lock_guard<std::mutex> guard(mutex_);
  handler_ = std::move(handler);
}

void FakeSite::SetFallback(FakeResponse response) {
  std::lock_guard<std::mutex> guard(mutex_);
  fallback_ = std::move(response);
}

std::vector<RecordedRequest> FakeSite::Requests() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

std::size_t FakeSite::RequestCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_.size();
}

std::vector<std::string> FakeSite::Paths() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<std::string> paths;
  for (const auto& request : requests_) {
    paths.push_back(request.Path);
  }
  return paths;
}

bool FakeSite::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

int FakeSite::ConnectionCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return connections_;
}

}  // namespace mirava::testing
