#include "relay/id_reservations.h"

#include "relay/random_ids.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace velmarin::relay {
namespace {

constexpr std::string_view kHeader = "velmarin-relay-reservations 1";
constexpr std::size_t kKeyBytes = 32;

std::string to_hex(const std::string& bytes) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 0x0f];
    }
    return out;
}

bool from_hex(const std::string& text, std::string& out) {
    if (text.size() % 2 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const auto nibble = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        };
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi << 4 | lo);
    }
    return true;
}

std::string new_key() {
    std::string key(kKeyBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(key.data()), int(key.size())) != 1)
        std::abort(); // as for IDs: never go on with a predictable secret
    return key;
}

struct unique_fd {
    explicit unique_fd(int fd)
        : fd_(fd) {}
    ~unique_fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Removes a temporary file that was not renamed into place (its name is
// cleared once it was).
struct temp_file {
    const std::string& name;
    ~temp_file() {
        if (!name.empty())
            ::unlink(name.c_str());
    }
};

long long seconds_of(id_reservations::clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

bool same_digest(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

id_reservations::id_reservations(std::chrono::seconds keep_for, std::size_t max_entries)
    : keep_for_(keep_for)
    , max_entries_(max_entries)
    , key_(new_key()) {}

std::string id_reservations::digest_of(const std::string& password_hash) const {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), key_.data(), int(key_.size()),
         reinterpret_cast<const unsigned char*>(password_hash.data()), password_hash.size(), out,
         &length);
    return std::string(reinterpret_cast<const char*>(out), length);
}

bool id_reservations::held_for_other(const std::string& id, const std::string& password_hash,
                                     clock::time_point now) const {
    const std::lock_guard lock(mutex_);
    const auto it = entries_.find(id);
    if (it == entries_.end() || seconds_of(now) - it->second.last_use > keep_for_.count())
        return false;
    return !same_digest(it->second.digest, digest_of(password_hash));
}

void id_reservations::record(const std::string& id, const std::string& password_hash,
                             clock::time_point now) {
    const std::lock_guard lock(mutex_);
    const auto seconds = seconds_of(now);
    if (!entries_.contains(id) && entries_.size() >= max_entries_)
        forget_old(seconds);
    entries_[id] = entry{digest_of(password_hash), seconds};
    dirty_ = true;
}

void id_reservations::touch(const std::string& id, const std::string& password_hash,
                            clock::time_point now) {
    const std::lock_guard lock(mutex_);
    const auto it = entries_.find(id);
    if (it != entries_.end() && same_digest(it->second.digest, digest_of(password_hash))) {
        it->second.last_use = seconds_of(now);
        dirty_ = true;
    }
}

void id_reservations::forget_old(long long now) {
    std::erase_if(entries_,
                  [&](const auto& e) { return now - e.second.last_use > keep_for_.count(); });
    if (entries_.size() < max_entries_)
        return;
    const auto oldest =
        std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
            return a.second.last_use < b.second.last_use;
        });
    entries_.erase(oldest);
}

std::string id_reservations::load(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        return "reservations: " + path + " not found or unreadable, starting empty";
    std::string header, word, key_hex, key;
    std::getline(in, header);
    std::map<std::string, entry> loaded;
    bool good = header == kHeader && (in >> word >> key_hex) && word == "key" &&
                from_hex(key_hex, key) && key.size() == kKeyBytes;
    std::getline(in, word); // the rest of the key line
    good = good && word.empty();
    for (std::string line; good && std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, digest_hex, rest;
        entry e;
        good = (fields >> id >> digest_hex >> e.last_use) && !(fields >> rest) && is_host_id(id) &&
               from_hex(digest_hex, e.digest) && e.digest.size() == 32;
        loaded[id] = std::move(e);
    }
    if (!good)
        return "reservations: " + path + " is damaged, starting empty";
    const std::lock_guard lock(mutex_);
    key_ = std::move(key);
    entries_ = std::move(loaded);
    dirty_ = false;
    return "reservations: " + std::to_string(entries_.size()) + " IDs read from " + path;
}

bool id_reservations::save(const std::string& path, std::string& error) {
    std::string text;
    {
        const std::lock_guard lock(mutex_);
        if (!dirty_)
            return true;
        forget_old(seconds_of(clock::now()));
        std::ostringstream out;
        out << kHeader << "\nkey " << to_hex(key_) << "\n";
        for (const auto& [id, e] : entries_)
            out << id << ' ' << to_hex(e.digest) << ' ' << e.last_use << '\n';
        text = std::move(out).str();
        dirty_ = false;
    }
    const auto fail = [&](const std::string& what) {
        error = what + " " + path + ": " + std::strerror(errno);
        const std::lock_guard lock(mutex_);
        dirty_ = true; // try again next time
        return false;
    };
    std::string temp = path + ".XXXXXX";
    {
        const unique_fd fd(::mkstemp(temp.data())); // 0600
        if (fd.get() < 0)
            return fail("cannot create a file beside");
        const temp_file cleanup{temp};
        for (std::size_t written = 0; written < text.size();) {
            const auto n = ::write(fd.get(), text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return fail("cannot write");
            written += static_cast<std::size_t>(n);
        }
        if (::fsync(fd.get()) != 0)
            return fail("cannot sync");
        if (::rename(temp.c_str(), path.c_str()) != 0)
            return fail("cannot replace");
        temp.clear(); // renamed: nothing left to remove
    }
    // The rename itself lasts only once the directory is on disk too.
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (const unique_fd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY)); dfd.get() >= 0)
        ::fsync(dfd.get());
    return true;
}

std::size_t id_reservations::size() const {
    const std::lock_guard lock(mutex_);
    return entries_.size();
}

} // namespace velmarin::relay
