#include "vendor_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <memory>

#include "accounts.h"
#include "connection.h"
#include "query.h"
#include "ranges.h"
#include "shop_replies.h"
#include "static_files.h"

namespace vendor {
namespace {

// Requests served on one connection before it is closed.
constexpr int kMaxRequestsPerConnection = 100;
// Connections served at once (each "hang" switch holds one).
constexpr std::size_t kWorkerThreads = 32;
// The size of the pieces a file is sent in.
constexpr std::size_t kFilePieceSize = 64 * 1024;

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 416:
      return "Range Not Satisfiable";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return status < 400 ? "OK" : "Error";
  }
}

// A whole answer with a short text body, for the connection to write itself before it
// closes.
std::string PlainAnswer(int status) {
  std::string body = std::to_string(status) + " " + ReasonPhrase(status) + "\n";
  return "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) +
         "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// The target of the request line at the start of |head| ("METHOD TARGET VERSION").
std::string_view TargetOf(std::string_view head) {
  std::string_view line = head.substr(0, head.find("\r\n"));
  std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return {};
  std::size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos) return {};
  return line.substr(first + 1, second - first - 1);
}

// The value of the first header line of |head| named |name| (any letter case), blanks
// around it dropped; empty when there is none.
std::string_view HeaderOf(std::string_view head, std::string_view name) {
  std::size_t start = head.find("\r\n");
  while (start != std::string_view::npos && start + 2 < head.size()) {
    start += 2;
    const std::size_t end = head.find("\r\n", start);
    if (end == std::string_view::npos) break;
    std::string_view line = head.substr(start, end - start);
    start = end;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !EqualsIgnoringCase(line.substr(0, colon), name))
      continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return value;
  }
  return {};
}

bool ShapesTheConnection(FaultKind kind) {
  return kind == FaultKind::kNoLength || kind == FaultKind::kSlow || kind == FaultKind::kDrop;
}

// Whether the client of |head| asked to keep the connection open: HTTP/1.1 unless it
// says "Connection: close", HTTP/1.0 only when it says "Connection: keep-alive".
bool WantsKeepAlive(std::string_view head) {
  std::size_t line_end = head.find("\r\n");
  std::string_view request_line = head.substr(0, line_end);
  bool keep = request_line.ends_with(" HTTP/1.1");
  std::size_t start = line_end + 2;
  while (start < head.size()) {
    std::size_t end = head.find("\r\n", start);
    if (end == std::string_view::npos) break;
    std::string_view line = head.substr(start, end - start);
    start = end + 2;
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos ||
        !EqualsIgnoringCase(line.substr(0, colon), "Connection")) {
      continue;
    }
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (EqualsIgnoringCase(value, "close")) keep = false;
    if (EqualsIgnoringCase(value, "keep-alive")) keep = true;
  }
  return keep;
}

void SetPlain(httplib::Response& response, int status) {
  response.status = status;
  response.set_content(std::to_string(status) + " " + ReasonPhrase(status) + "\n", "text/plain");
}

// Reads up to |size| bytes of a body from |offset| into |data|; the count read, 0 or
// less when the body ends early.
using BodyReader = std::function<ssize_t(std::uint64_t offset, char* data, std::size_t size)>;

// Answers with a body of |size| bytes that |read| gives piece by piece, never whole in
// memory: whole, or the one range |request| asks (unless |ranges| is false), under
// |validators|.
void SendBody(const httplib::Request& request, httplib::Response& response, std::uint64_t size,
              const std::string& content_type, const Validators& validators, bool ranges,
              BodyReader read) {
  response.set_header("ETag", validators.etag);
  response.set_header("Last-Modified", validators.last_modified);
  if (ranges) response.set_header("Accept-Ranges", "bytes");
  RangePlan plan;
  if (ranges) {
    plan = PlanRange(request.get_header_value("Range"), request.get_header_value("If-Range"), size,
                     validators);
  }
  if (plan.kind == RangePlan::kUnsatisfiable) {
    SetPlain(response, 416);
    response.set_header("Content-Range", "bytes */" + std::to_string(size));
    return;
  }
  std::uint64_t first = 0, length = size;
  if (plan.kind == RangePlan::kPart) {
    first = plan.first;
    length = plan.last - plan.first + 1;
    response.status = 206;
    response.set_header("Content-Range", "bytes " + std::to_string(plan.first) + "-" +
                                             std::to_string(plan.last) + "/" +
                                             std::to_string(size));
  }
  response.set_content_provider(
      static_cast<std::size_t>(length), content_type,
      [read = std::move(read), first](std::size_t offset, std::size_t length,
                                      httplib::DataSink& sink) {
        std::string piece(std::min(length, kFilePieceSize), '\0');
        const ssize_t n = read(first + offset, piece.data(), piece.size());
        // A body that ended early (a file that shrank while it was sent) ends the connection.
        if (n <= 0) return false;
        return sink.write(piece.data(), static_cast<std::size_t>(n));
      });
}

// Whether |host| (a request's Host header) is a plain host[:port], fit to be put in a URL.
bool IsPlainHost(std::string_view host) {
  return !host.empty() && host.size() <= 255 &&
         host.find_first_not_of(
             "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
             ".-:[]") == std::string_view::npos;
}

}  // namespace

VendorServer::VendorServer(ServiceConfig config) : config_(std::move(config)) {
  // The library owns the queue it is given.
  new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  set_keep_alive_max_count(kMaxRequestsPerConnection);
  // Address reuse only (no port sharing), so that a port in use is refused.
  set_socket_options([](socket_t sock) {
    int yes = 1;
    // Without it, a port that was just used is refused for a while: nothing worse.
    (void)::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    Route(request, response);
    return HandlerResponse::Handled;
  });
}

base::Status VendorServer::OpenLog(const std::string& path) { return log_.Open(path); }

base::Status VendorServer::UseTls(const std::string& cert_path, const std::string& key_path) {
  net::SslContext context(SSL_CTX_new(TLS_server_method()));
  if (!context) return base::Status::IoError("TLS: no context");
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  // One ticket after each handshake: the client resumes its next connection with it,
  // which spares both sides the certificate (the key exchange still runs).
  SSL_CTX_set_num_tickets(context.get(), 1);
  if (SSL_CTX_use_certificate_chain_file(context.get(), cert_path.c_str()) != 1)
    return base::Status::Invalid("--tls-cert " + cert_path + ": no PEM certificate chain");
  if (SSL_CTX_use_PrivateKey_file(context.get(), key_path.c_str(), SSL_FILETYPE_PEM) != 1)
    return base::Status::Invalid("--tls-key " + key_path + ": no PEM private key");
  if (SSL_CTX_check_private_key(context.get()) != 1)
    return base::Status::Invalid("--tls-key " + key_path + ": not the key of --tls-cert");
  tls_ = std::move(context);
  return base::Status::Ok();
}

void VendorServer::Stop() {
  stopping_ = true;
  stop();
}

bool VendorServer::process_and_close_socket(socket_t sock) {
  Connection connection(sock, stopping_);
  // A client that does not finish the TLS handshake is sent nothing more.
  if (tls_ && !connection.Handshake(tls_.get()).ok()) return true;
  Serve(connection);
  return true;
}

void VendorServer::Serve(Connection& connection) {
  for (int served = 0; served < kMaxRequestsPerConnection; ++served) {
    std::string head;
    // The answers written below end the connection: whether the client still takes them
    // changes nothing, and their results are not looked at.
    if (const base::Status peeked = connection.PeekHead(&head); !peeked.ok()) {
      if (peeked.code() == base::Status::Code::kTooLarge)
        (void)connection.WriteRaw(PlainAnswer(431));
      return;
    }
    log_.Append(head);
    // The library never sees the range: it is given back to the request once the
    // library has parsed it, for ServeFile.
    const std::string range(HeaderOf(head, "Range"));
    const std::string if_range(HeaderOf(head, "If-Range"));
    connection.HideFromLibrary(head);
    std::string_view target = TargetOf(head);
    // The library reads lines as C strings: a NUL byte would cut the request short.
    if (target.empty() || head.find('\0') != std::string::npos) {
      (void)connection.WriteRaw(PlainAnswer(400));
      return;
    }
    std::optional<FaultRule> fault = FaultFor(target);
    if (fault && fault->kind == FaultKind::kStatus) {
      (void)connection.WriteRaw(PlainAnswer(fault->status));
      return;
    }
    if (fault && fault->kind == FaultKind::kRedirect) {
      (void)connection.WriteRaw("HTTP/1.1 302 Found\r\nLocation: " + fault->location +
                                "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      return;
    }
    if (fault && fault->kind == FaultKind::kHang) {
      connection.HoldOpen();
      return;
    }
    if (fault && ShapesTheConnection(fault->kind)) connection.ShapeWith(*fault);
    // A shaped answer is the connection's last; so is the answer to a client that did not
    // ask to keep the connection (the client's own requests are HTTP/1.0 and read until
    // the connection closes).
    bool last = fault.has_value() || !WantsKeepAlive(head) ||
                served + 1 == kMaxRequestsPerConnection || stopping_.load();
    bool closed = false;
    const auto give_range_back = [&](httplib::Request& request) {
      if (!range.empty()) request.set_header("Range", range);
      if (!if_range.empty()) request.set_header("If-Range", if_range);
    };
    if (!process_request(connection, last, closed, give_range_back) || closed || last) return;
  }
}

void VendorServer::Route(const httplib::Request& request, httplib::Response& response) {
  if (request.method != "GET" && request.method != "HEAD") {
    SetPlain(response, 405);
    response.set_header("Allow", "GET, HEAD");
    return;
  }
  // The target as sent: the library's decoded path and parameters would read the
  // client's escaping and its GBK bytes differently.
  Target target = SplitTarget(request.target);
  if (EqualsIgnoringCase(target.path, "/login4shelf.aspx")) {
    response.set_content(LoginReply(ParseQuery(target.query), LoadShopData(config_.root)),
                         kReplyContentType);
    return;
  }
  if (EqualsIgnoringCase(target.path, "/GetBuyedList.aspx")) {
    response.set_content(PurchasedListReply(ParseQuery(target.query), LoadShopData(config_.root)),
                         kReplyContentType);
    return;
  }
  if (ServeOpds(target, request, response)) return;
  ServeFile(target.path, request, response);
}

bool VendorServer::ServeOpds(const Target& target, const httplib::Request& request,
                             httplib::Response& response) {
  struct Catalogue {
    const char* base;
    std::optional<AuthScheme> scheme;
  };
  static const Catalogue kCatalogues[] = {{"/opds", std::nullopt},
                                          {"/opds-basic", AuthScheme::kBasic},
                                          {"/opds-digest", AuthScheme::kDigest},
                                          {"/opds-digest-md5", AuthScheme::kDigestMd5}};
  const std::string_view path = target.path;
  for (const Catalogue& catalogue : kCatalogues) {
    const std::string_view rest = path.starts_with(catalogue.base)
                                      ? path.substr(std::strlen(catalogue.base))
                                      : std::string_view("-");
    if (!rest.empty() && rest.front() != '/') continue;
    std::vector<std::string> challenges;
    if (catalogue.scheme &&
        !auth_.Check(*catalogue.scheme,
                     {request.method, request.target, request.get_header_value("Authorization")},
                     LoadShopData(config_.root).accounts, &challenges)) {
      SetPlain(response, 401);
      for (const std::string& challenge : challenges)
        response.set_header("WWW-Authenticate", challenge);
      return true;
    }
    const std::string host = request.get_header_value("Host");
    const std::string origin = IsPlainHost(host) ? (tls_ ? "https://" : "http://") + host : "";
    const std::optional<FaultRule> fault = FaultFor(request.target);
    const OpdsReply reply = OpdsAnswer(config_.opds, catalogue.base, rest, target.query, origin,
                                       fault && fault->kind == FaultKind::kResized);
    if (!reply.book) {
      response.status = reply.status;
      response.set_content(reply.body, reply.content_type);
      return true;
    }
    // A generated book's validators: those of a file of its size, dated by its number.
    struct stat st {};
    st.st_size = static_cast<off_t>(reply.book->size);
    st.st_mtim.tv_sec = 1704067200 + static_cast<std::time_t>(reply.book->number % 100000000);
    st.st_mtim.tv_nsec = reply.book->format;
    SendBody(request, response, reply.book->size, reply.book->content_type, ValidatorsOf(st, 0),
             !fault || fault->kind != FaultKind::kNoRanges,
             [book = *reply.book](std::uint64_t offset, char* data, std::size_t size) -> ssize_t {
               if (offset >= book.size) return 0;
               const auto n =
                   static_cast<std::size_t>(std::min<std::uint64_t>(size, book.size - offset));
               book.Read(offset, data, n);
               return static_cast<ssize_t>(n);
             });
    return true;
  }
  return false;
}

std::optional<FaultRule> VendorServer::FaultFor(std::string_view target) const {
  std::optional<FaultRule> fault = FindFault(config_.faults, target);
  if (!fault) fault = FindFault(ReadFaultFile(config_.root), target);
  return fault;
}

void VendorServer::ServeFile(const std::string& raw_path, const httplib::Request& request,
                             httplib::Response& response) {
  OpenedFile file;
  if (const base::Status opened = OpenStaticFile(config_.root, raw_path, &file); !opened.ok()) {
    // A path that tries to leave the folder is forbidden; any other failure is a file
    // that is not there.
    SetPlain(response, opened.code() == base::Status::Code::kInvalid ? 403 : 404);
    return;
  }
  const std::optional<FaultRule> fault = FaultFor(request.target);
  const bool ranges = !fault || fault->kind != FaultKind::kNoRanges;
  // A changing file's version: its validators, and the byte its bytes are XORed with.
  const std::uint64_t version =
      fault && fault->kind == FaultKind::kChanging ? versions_.fetch_add(1) + 1 : 0;
  const auto mask = static_cast<unsigned char>(version & 0xFF);
  auto fd = std::make_shared<base::UniqueFd>(std::move(file.fd));
  SendBody(request, response, file.size, file.content_type, ValidatorsOf(file.st, version), ranges,
           [fd, mask](std::uint64_t offset, char* data, std::size_t size) {
             const ssize_t n = ::pread(fd->get(), data, size, static_cast<off_t>(offset));
             if (mask != 0) {
               for (ssize_t i = 0; i < n; ++i) data[i] = static_cast<char>(data[i] ^ mask);
             }
             return n;
           });
}

}  // namespace vendor
