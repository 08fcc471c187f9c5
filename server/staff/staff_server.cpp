// The staff view's server, logins and routes (see staff_server.h).
#include "staff_server.h"

#include "html.h"
#include "staff_pages.h"

#include "record/drive_record.h"

#include <httplib.h>
#include <openssl/ssl.h>

#include <cctype>
#include <ctime>

namespace server {

namespace {

using staff::Escape;
using Clock = std::chrono::steady_clock;

const char* const kSessionCookie = "pelora_staff";
const char* const kLoginCookie = "pelora_login"; // the login form's CSRF token
const char* const kHtml = "text/html; charset=utf-8";

std::string Cookie(const std::string& name, const std::string& value, bool expire = false) {
    return name + "=" + value + "; Path=/; Secure; HttpOnly; SameSite=Strict" +
           (expire ? "; Max-Age=0" : "");
}

std::string CookieValue(const httplib::Request& request, const std::string& name) {
    std::string header = request.get_header_value("Cookie");
    std::size_t at = 0;
    while (at < header.size()) {
        std::size_t end = header.find(';', at);
        if (end == std::string::npos)
            end = header.size();
        std::string part = header.substr(at, end - at);
        at = end + 1;
        std::size_t first = part.find_first_not_of(' ');
        if (first == std::string::npos)
            continue;
        part = part.substr(first);
        if (part.size() > name.size() && part.compare(0, name.size(), name) == 0 &&
            part[name.size()] == '=')
            return part.substr(name.size() + 1);
    }
    return "";
}

void Redirect(httplib::Response& response, const std::string& to) {
    response.status = 303;
    response.set_header("Location", to);
    response.set_content("See " + to + "\n", "text/plain; charset=utf-8");
}

void Refuse(httplib::Response& response, int status, const std::string& sentence) {
    response.status = status;
    response.set_content(staff::Page({"Refused", "", ""}, "<p>" + Escape(sentence) + "</p>\n"),
                         kHtml);
}

std::string LoginForm(const std::string& csrf, const std::string& message,
                      const std::string& name) {
    std::string body;
    if (!message.empty())
        body += "<p class=\"problem\" role=\"alert\">" + Escape(message) + "</p>\n";
    body += "<form method=\"post\" action=\"/login\"><input type=\"hidden\" name=\"csrf\" "
            "value=\"" +
            Escape(csrf) +
            "\"><p><label for=\"name\">Name</label><input id=\"name\" name=\"name\" "
            "autocomplete=\"username\" required value=\"" +
            Escape(name) +
            "\"></p><p><label for=\"password\">Password</label><input id=\"password\" "
            "name=\"password\" type=\"password\" autocomplete=\"current-password\" "
            "required></p><p><button type=\"submit\">Log in</button></p></form>\n";
    return staff::Page({"Staff login", "", ""}, body);
}

// Seconds since 1970 of a "YYYY-MM-DD" date, at midnight UTC.
bool ParseDate(const std::string& text, std::int64_t& seconds) {
    std::int64_t value = 0;
    if (text.size() != 10 || !drive_record::ParseUtc(text + "T00:00:00Z", value))
        return false;
    seconds = value;
    return true;
}

} // namespace

StaffServer::StaffServer(const StaffContext& context)
    : context_(context), sessions_(context.options.staffIdleTimeout),
      throttle_(LoginThrottle::Settings{
          context.options.throttleNameFailures, context.options.throttleAddressFailures,
          context.options.throttleBaseDelay, context.options.throttleMaxDelay,
          context.options.throttleWindow, 100000}) {
    context_.hasher.Hash(staff::RandomToken(), dummyHash_);
}

StaffServer::~StaffServer() {
    Stop();
}

bool StaffServer::Start(const std::string& certPath, const std::string& keyPath,
                        std::string& error) {
    std::string problem;
    http_ = std::make_unique<httplib::SSLServer>([&](SSL_CTX& tls) {
        SSL_CTX_set_min_proto_version(&tls, TLS1_2_VERSION);
        if (SSL_CTX_use_certificate_chain_file(&tls, certPath.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(&tls, keyPath.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(&tls) != 1) {
            problem = "cannot use the certificate " + certPath + " for the staff view";
            return false;
        }
        return true;
    });
    if (!http_->is_valid()) {
        error = problem.empty() ? "cannot set up TLS for the staff view" : problem;
        http_.reset();
        return false;
    }
    http_->set_default_headers(
        {{"Content-Security-Policy",
          "default-src 'none'; style-src 'self'; script-src 'self'; img-src 'self'; "
          "form-action 'self'; frame-ancestors 'none'; base-uri 'none'"},
         {"X-Content-Type-Options", "nosniff"},
         {"Referrer-Policy", "no-referrer"},
         {"Cache-Control", "no-store"},
         {"Strict-Transport-Security", "max-age=31536000"}});
    http_->set_payload_max_length(64 * 1024);
    http_->set_read_timeout(10);
    // An idle connection is let go soon: the server's shutdown waits for it.
    http_->set_keep_alive_timeout(2);
    Routes();
    const ServerOptions& options = context_.options;
    if (options.staffPort == 0) {
        port_ = http_->bind_to_any_port(options.staffBind);
    } else {
        port_ = http_->bind_to_port(options.staffBind, options.staffPort) ? options.staffPort : -1;
    }
    if (port_ <= 0) {
        error = "cannot listen for the staff view on " + options.staffBind + " port " +
                std::to_string(options.staffPort);
        http_.reset();
        return false;
    }
    thread_ = std::thread([this] { http_->listen_after_bind(); });
    return true;
}

std::string StaffServer::ListenAddress() const {
    std::string host = context_.options.staffBind;
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    return host + ":" + std::to_string(port_);
}

void StaffServer::Stop() {
    if (http_)
        http_->stop();
    if (thread_.joinable())
        thread_.join();
}

bool StaffServer::Authorized(const httplib::Request& request,
                             staff::StaffSessions::Session& session, std::string* token) {
    std::string value = CookieValue(request, kSessionCookie);
    if (value.empty() || !sessions_.Use(value, Clock::now(), session))
        return false;
    // An account removed while its session lives ends the session.
    StaffRecord record;
    if (context_.staff.Find(session.name, record) != StoreResult::Ok) {
        sessions_.Close(value);
        return false;
    }
    if (token)
        *token = value;
    return true;
}

void StaffServer::Login(const httplib::Request& request, httplib::Response& response) {
    std::string formToken = request.get_param_value("csrf");
    if (!staff::SameToken(formToken, CookieValue(request, kLoginCookie))) {
        Refuse(response, 403,
               "The login form was out of date or not from this site; please open the login "
               "page again.");
        return;
    }
    std::string name = request.get_param_value("name");
    std::string password = request.get_param_value("password");
    std::string address = request.remote_addr;
    auto now = Clock::now();
    if (double wait = throttle_.Delay(name, address, now); wait > 0) {
        response.status = 429;
        response.set_header("Retry-After", std::to_string(int(wait + 0.999)));
        response.set_content(LoginForm(formToken,
                                       "Too many failed logins. Please wait " +
                                           std::to_string(int(wait + 0.999)) +
                                           " seconds and try again.",
                                       name),
                             kHtml);
        return;
    }
    StaffRecord record;
    StoreResult found = context_.staff.Find(name, record);
    if (found == StoreResult::Failed) {
        Refuse(response, 503, "The server could not read its staff accounts; please try later.");
        return;
    }
    // An unknown name costs the same hash as a wrong password.
    bool match = context_.hasher.Verify(found == StoreResult::Ok ? record.passwordHash : dummyHash_,
                                        password) == PasswordHasher::Check::Match &&
                 found == StoreResult::Ok;
    if (!match) {
        throttle_.Failed(name, address, now);
        context_.log.Warning("staff view: failed login as \"" + name + "\" from " + address);
        response.status = 401;
        response.set_content(LoginForm(formToken, "The name or the password is wrong.", name),
                             kHtml);
        return;
    }
    throttle_.Succeeded(name, address);
    std::string token = sessions_.Open(name, now);
    context_.log.Info("staff view: " + name + " logged in from " + address);
    response.set_header("Set-Cookie", Cookie(kSessionCookie, token));
    Redirect(response, "/");
}

void StaffServer::Routes() {
    httplib::SSLServer& http = *http_;
    // No file is ever served from disk: a path that climbs or hides a separator is refused
    // before any route sees it.
    http.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
        const std::string& path = request.path;
        std::string target = request.target.substr(0, request.target.find('?'));
        for (char& c : target)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (path.find("..") != std::string::npos || path.find('\\') != std::string::npos ||
            path.find('\0') != std::string::npos || path.find("//") != std::string::npos ||
            target.find("%2e") != std::string::npos || target.find("%2f") != std::string::npos ||
            target.find("%5c") != std::string::npos) {
            Refuse(response, 400, "That address is not one of the staff view's pages.");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.body.empty())
            response.set_content(
                staff::Page({"Not found", "", ""},
                            "<p>There is no such page. <a href=\"/\">Trainees</a></p>\n"),
                kHtml);
    });
    http.set_exception_handler(
        [this](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            context_.log.Error("staff view: a page failed");
            Refuse(response, 500, "The page could not be made.");
        });

    http.Get("/style.css", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(staff::kStyleSheet, "text/css; charset=utf-8");
    });
    http.Get("/replay.js", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(staff::kReplayScript, "text/javascript; charset=utf-8");
    });
    http.Get("/login", [](const httplib::Request&, httplib::Response& response) {
        std::string token = staff::RandomToken();
        response.set_header("Set-Cookie", Cookie(kLoginCookie, token));
        response.set_content(LoginForm(token, "", ""), kHtml);
    });
    http.Post("/login", [this](const httplib::Request& request, httplib::Response& response) {
        Login(request, response);
    });
    http.Post("/logout", [this](const httplib::Request& request, httplib::Response& response) {
        staff::StaffSessions::Session session;
        std::string token;
        if (!Authorized(request, session, &token)) {
            Redirect(response, "/login");
            return;
        }
        if (!staff::SameToken(request.get_param_value("csrf"), session.csrf)) {
            Refuse(response, 403, "The form was out of date or not from this site.");
            return;
        }
        sessions_.Close(token);
        context_.log.Info("staff view: " + session.name + " logged out");
        response.set_header("Set-Cookie", Cookie(kSessionCookie, "", true));
        Redirect(response, "/login");
    });

    // Every other page needs a login.
    using Page = std::function<void(const httplib::Request&, httplib::Response&,
                                    const staff::StaffSessions::Session&)>;
    auto guarded = [this](Page page) {
        return [this, page](const httplib::Request& request, httplib::Response& response) {
            staff::StaffSessions::Session session;
            if (!Authorized(request, session)) {
                Redirect(response, "/login");
                return;
            }
            page(request, response, session);
        };
    };
    auto frame = [](const std::string& title, const staff::StaffSessions::Session& session) {
        return staff::PageFrame{title, session.name, session.csrf};
    };
    auto storeFailed = [](httplib::Response& response) {
        Refuse(response, 503, "The server could not read its records; please try again later.");
    };

    http.Get("/", guarded([=, this](const httplib::Request& request, httplib::Response& response,
                                    const auto& session) {
                 std::vector<TraineeRow> trainees;
                 if (context_.drives.Trainees(trainees) != StoreResult::Ok)
                     return storeFailed(response);
                 staff::TraineesQuery query;
                 if (request.has_param("sort"))
                     query.sort = request.get_param_value("sort");
                 query.descending = request.get_param_value("dir") == "desc";
                 query.search = request.get_param_value("q");
                 response.set_content(staff::Page(frame("Trainees", session),
                                                  staff::TraineesBody(std::move(trainees), query)),
                                      kHtml);
             }));
    http.Get("/trainee", guarded([=, this](const httplib::Request& request,
                                           httplib::Response& response, const auto& session) {
                 std::string name = request.get_param_value("name");
                 std::vector<DriveRow> drives;
                 if (context_.drives.ForUser(name, drives) != StoreResult::Ok)
                     return storeFailed(response);
                 response.set_content(
                     staff::Page(frame("Trainee " + name, session),
                                 staff::TraineeBody(name, drives, context_.worlds)),
                     kHtml);
             }));
    http.Get("/drive", guarded([=, this](const httplib::Request& request,
                                         httplib::Response& response, const auto& session) {
                 std::string text = request.get_param_value("id");
                 char* end = nullptr;
                 long long id = std::strtoll(text.c_str(), &end, 10);
                 DriveRow drive;
                 if (text.empty() || *end != '\0' ||
                     context_.drives.Find(id, drive) != StoreResult::Ok || !drive.readable) {
                     response.status = 404;
                     return;
                 }
                 response.set_content(
                     staff::Page(frame("Drive of " + drive.user + " in " + drive.world, session),
                                 staff::DriveBody(drive, context_.worlds)),
                     kHtml);
             }));
    http.Get("/online", guarded([=, this](const httplib::Request&, httplib::Response& response,
                                          const auto& session) {
                 response.set_content(staff::Page(frame("Online now", session),
                                                  staff::OnlineBody(context_.presence.List())),
                                      kHtml);
             }));
    http.Get("/files", guarded([=, this](const httplib::Request&, httplib::Response& response,
                                         const auto& session) {
                 std::vector<DriveRow> files;
                 if (context_.drives.Unreadable(files) != StoreResult::Ok)
                     return storeFailed(response);
                 response.set_content(
                     staff::Page(frame("Files not read", session), staff::FilesBody(files)), kHtml);
             }));
    http.Get(
        "/export",
        guarded([=](const httplib::Request&, httplib::Response& response, const auto& session) {
            response.set_content(staff::Page(frame("Export", session), staff::ExportBody()), kHtml);
        }));
    auto csv = [](httplib::Response& response, const std::string& file, std::string text) {
        response.set_header("Content-Disposition", "attachment; filename=\"" + file + "\"");
        response.set_content(std::move(text), "text/csv; charset=utf-8");
    };
    http.Get("/export/trainee.csv", guarded([=, this](const httplib::Request& request,
                                                      httplib::Response& response, const auto&) {
                 std::vector<DriveRow> drives;
                 if (context_.drives.ForUser(request.get_param_value("name"), drives) !=
                     StoreResult::Ok)
                     return storeFailed(response);
                 csv(response, "drives.csv", staff::DrivesCsv(drives));
             }));
    http.Get("/export/drives.csv", guarded([=, this](const httplib::Request& request,
                                                     httplib::Response& response, const auto&) {
                 std::int64_t from = 0, to = 0;
                 if (!ParseDate(request.get_param_value("from"), from) ||
                     !ParseDate(request.get_param_value("to"), to) || to < from) {
                     Refuse(response, 400,
                            "Give two dates as YYYY-MM-DD, the first not after "
                            "the second.");
                     return;
                 }
                 std::vector<DriveRow> drives;
                 if (context_.drives.InRange(from, to + 86400, drives) != StoreResult::Ok)
                     return storeFailed(response);
                 csv(response, "drives.csv", staff::DrivesCsv(drives));
             }));
}

} // namespace server
