#pragma once
// Debian's nginx as a child process on 127.0.0.1, serving a folder the way the
// web serves pages: for tests that need a real server's HTTP/2, gzip and
// connection handling, and for the benchmarks. Everything it writes (its
// configuration, pid file, error log, temp files) lives in a directory of its
// own, which goes with the object, as does the server.
//     NginxOptions options;
//     options.root = site.Path();
//     TestNginx nginx(options);
//     Fetch(nginx.Url("/index.html"));
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

struct NginxOptions {
    std::filesystem::path root;  // the folder served at "/"
    bool https = false;          // needs certificateFile and keyFile (see TestCertificate)
    std::string certificateFile;
    std::string keyFile;
    bool http2 = false;  // with https only, as browsers speak it
    bool gzip = false;   // html, css, js, text compressed as web servers send them
    bool autoindex = false;
    // 0: nginx's own limit. N: the connection is closed after N requests; on
    // HTTP/2 nginx sends GOAWAY then.
    int keepaliveRequests = 0;
    std::string extraServerLines;  // raw configuration inside the server block
};

class TestNginx {
public:
    static constexpr const char* kBinary = "/usr/sbin/nginx";

    static bool Available() { return access(kBinary, X_OK) == 0; }

    explicit TestNginx(const NginxOptions& options) : m_https(options.https) {
        std::string pattern = (std::filesystem::temp_directory_path() / "netzspurer-nginx-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no directory for nginx");
        m_dir = pattern;
        // A port that was free a moment ago may be taken before nginx binds it.
        constexpr int kAttempts = 5;
        std::string log;
        for (int attempt = 0; attempt < kAttempts; ++attempt) {
            m_port = FreePort();
            WriteConfig(options);
            if (Start()) return;
            log = ReadText(m_dir / "error.log");
            if (log.find("Address already in use") == std::string::npos) break;
        }
        RemoveDir();
        throw std::runtime_error("nginx did not start:\n" + log);
    }
    ~TestNginx() {
        Stop();
        RemoveDir();
    }
    TestNginx(const TestNginx&) = delete;
    TestNginx& operator=(const TestNginx&) = delete;

    int Port() const { return m_port; }

    // The CPU time nginx and its workers have taken so far, in seconds; negative
    // when /proc does not tell. What a crawl cost the server is the difference.
    double CpuSeconds() const {
        if (m_pid <= 0) return -1;
        const std::string self = "/proc/" + std::to_string(m_pid);
        double seconds = ProcessCpuSeconds(self + "/stat");
        std::ifstream children(self + "/task/" + std::to_string(m_pid) + "/children");
        for (long child = 0; seconds >= 0 && children >> child;)
            seconds += std::max(0.0, ProcessCpuSeconds("/proc/" + std::to_string(child) + "/stat"));
        return seconds;
    }
    std::string Url(const std::string& path) const {
        return std::string(m_https ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    // User and system time of a process from its stat file, past the name in
    // parentheses, which may hold blanks.
    static double ProcessCpuSeconds(const std::string& statFile) {
        const std::string stat = ReadText(statFile);
        const std::size_t nameEnd = stat.rfind(')');
        if (nameEnd == std::string::npos) return -1;
        std::istringstream fields(stat.substr(nameEnd + 1));
        std::string field;
        unsigned long long user = 0, system = 0;
        // State is the first field after the name; utime and stime are the 12th and 13th.
        for (int i = 1; i <= 11 && fields >> field; ++i) {
        }
        if (!(fields >> user >> system)) return -1;
        return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    static int FreePort() {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (fd >= 0) close(fd);
            throw std::runtime_error("no free port for nginx");
        }
        close(fd);
        return ntohs(address.sin_port);
    }

    static bool Accepts(int port) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        const bool connected = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0) close(fd);
        return connected;
    }

    static std::string ReadText(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string InDir(const char* name) const { return "\"" + (m_dir / name).string() + "\""; }

    void WriteConfig(const NginxOptions& o) const {
        std::ofstream conf(m_dir / "nginx.conf", std::ios::trunc);
        // Workers drop to "nobody" under root, who could not read a test's folders.
        if (geteuid() == 0) conf << "user root;\n";
        conf << "daemon off;\nworker_processes auto;\n"
             << "pid " << InDir("nginx.pid") << ";\nlock_file " << InDir("nginx.lock") << ";\n"
             << "error_log " << InDir("error.log") << " warn;\n"
             << "events { worker_connections 1024; }\n"
             << "http {\n"
             << "  types { text/html html htm shtml; text/css css; application/javascript js; text/plain txt;\n"
             << "    application/json json; application/xml xml; image/svg+xml svg; image/png png; image/gif gif;\n"
             << "    image/jpeg jpg jpeg; image/x-icon ico; application/zip zip; application/pdf pdf; }\n"
             << "  default_type application/octet-stream;\n"
             << "  access_log off;\n  sendfile on;\n"
             << "  client_body_temp_path " << InDir("body") << ";\n  proxy_temp_path " << InDir("proxy") << ";\n"
             << "  fastcgi_temp_path " << InDir("fastcgi") << ";\n  uwsgi_temp_path " << InDir("uwsgi") << ";\n"
             << "  scgi_temp_path " << InDir("scgi") << ";\n";
        if (o.gzip) {
            conf << "  gzip on;\n  gzip_min_length 32;\n"
                 << "  gzip_types text/css text/plain application/javascript application/json application/xml "
                    "image/svg+xml;\n";
        }
        conf << "  server {\n    listen 127.0.0.1:" << m_port << (o.https ? " ssl" : "")
             << (o.https && o.http2 ? " http2" : "") << ";\n"
             << "    root \"" << std::filesystem::absolute(o.root).string() << "\";\n";
        if (o.https) {
            conf << "    ssl_certificate \"" << o.certificateFile << "\";\n"
                 << "    ssl_certificate_key \"" << o.keyFile << "\";\n";
        }
        if (o.autoindex) conf << "    autoindex on;\n";
        if (o.keepaliveRequests > 0) conf << "    keepalive_requests " << o.keepaliveRequests << ";\n";
        conf << o.extraServerLines << "\n  }\n}\n";
    }

    // True once nginx accepts connections; false when it ended (see its error log).
    bool Start() {
        std::filesystem::remove(m_dir / "nginx.pid");
        std::filesystem::remove(m_dir / "error.log");
        const std::string prefix = m_dir.string() + "/";
        const std::string conf = (m_dir / "nginx.conf").string();
        const std::string log = (m_dir / "error.log").string();
        std::vector<const char*> argv = {kBinary, "-p", prefix.c_str(), "-c", conf.c_str(), "-e", log.c_str(), nullptr};
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid < 0) throw std::runtime_error("could not start nginx");
        if (m_pid == 0) {
            // A test killed by its time limit takes the server with it.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(127);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            execv(kBinary, const_cast<char* const*>(argv.data()));
            _exit(127);
        }
        // nginx writes its pid file once its port is bound.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return false;
            }
            if (std::filesystem::exists(m_dir / "nginx.pid") && Accepts(m_port)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Stop();
        return false;
    }

    void Stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

    void RemoveDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    std::filesystem::path m_dir;
    bool m_https = false;
    int m_port = 0;
    pid_t m_pid = -1;
};
