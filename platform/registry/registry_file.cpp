// The registry file: its text format and the backend that keeps the tree in it.

#include "registry.h"

#include "regularfile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qsrf::registry {

// ---- text format ------------------------------------------------------------------------

static const char kHexDigits[] = "0123456789abcdef";

static void AppendQuoted(std::string& out, const std::string& s)
{
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                out += "\\x";
                out += kHexDigits[c >> 4];
                out += kHexDigits[c & 15];
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

static void AppendValue(std::string& out, const std::string& name, const Value& v)
{
    AppendQuoted(out, name);
    out += '=';
    switch (v.type) {
    case ValueType::Integer: {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(static_cast<uint32_t>(v.integer)));
        out += buf;
        break;
    }
    case ValueType::Binary:
        out += "hex:";
        for (uint8_t b : v.binary) {
            out += kHexDigits[b >> 4];
            out += kHexDigits[b & 15];
        }
        break;
    case ValueType::String:
        out += "sz:";
        AppendQuoted(out, v.text);
        break;
    }
    out += '\n';
}

static void AppendKey(std::string& out, const MemoryBackend::Node& node, const std::string& path)
{
    out += "\n[" + path + "]\n";
    for (const auto& [name, value] : node.values)
        AppendValue(out, name, value);
}
std::string SerializeTree(const MemoryBackend::Node& root)
{
    std::string out =
        "# Registry of the current user: one [key] per section, below HKEY_CURRENT_USER,\n"
        "# then its values as \"name\"=dword:<hex>, \"name\"=hex:<bytes> or \"name\"=sz:\"text\".\n"
        "# Written by the program; the whole file is replaced at every change.\n";
    if (!root.values.empty())
        AppendKey(out, root, std::string());
    // Depth first, subkeys in name order, with an explicit stack and one path text that
    // grows and shrinks by one name, so neither the stack nor the work grows with the
    // square of the depth.
    struct Frame {
        const MemoryBackend::Node* node;
        std::map<std::string, std::unique_ptr<MemoryBackend::Node>, NameLess>::const_iterator next;
        size_t pathLength;   // of the path text before this node's name was added
    };
    std::string path;
    std::vector<Frame> stack{{&root, root.subkeys.begin(), 0}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next == top.node->subkeys.end()) {
            path.resize(top.pathLength);
            stack.pop_back();
            continue;
        }
        const auto& [name, child] = *top.next;
        ++top.next;
        const size_t before = path.size();
        if (stack.size() > 1)
            path += '\\';
        path += name;
        AppendKey(out, *child, path);
        stack.push_back({child.get(), child->subkeys.begin(), before});
    }
    return out;
}

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at line[pos] == '"'; pos ends after the closing quote.
bool ParseQuoted(const std::string& line, size_t& pos, std::string& out, std::string& error)
{
    if (pos >= line.size() || line[pos] != '"') {
        error = "a quoted text was expected";
        return false;
    }
    ++pos;
    out.clear();
    while (pos < line.size()) {
        const char c = line[pos++];
        if (c == '"')
            return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size())
            break;
        const char e = line[pos++];
        switch (e) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x': {
            const int hi = pos < line.size() ? HexValue(line[pos]) : -1;
            const int lo = pos + 1 < line.size() ? HexValue(line[pos + 1]) : -1;
            if (hi < 0 || lo < 0) {
                error = "\\x must be followed by two hex digits";
                return false;
            }
            out += static_cast<char>(hi * 16 + lo);
            pos += 2;
            break;
        }
        default:
            error = std::string("unknown escape \\") + e;
            return false;
        }
    }
    error = "the quoted text is not closed";
    return false;
}

bool OnlyBlanks(const std::string& s, size_t from)
{
    for (size_t i = from; i < s.size(); ++i)
        if (s[i] != ' ' && s[i] != '\t')
            return false;
    return true;
}

bool StartsWith(const std::string& s, size_t pos, const char* prefix)
{
    return s.compare(pos, std::strlen(prefix), prefix) == 0;
}

// Reads the part after '=' of a value line.
bool ParseData(const std::string& line, size_t pos, Value& value, std::string& error)
{
    if (StartsWith(line, pos, "dword:")) {
        pos += 6;
        size_t end = pos;
        uint32_t v = 0;
        while (end < line.size() && HexValue(line[end]) >= 0) {
            v = v * 16 + static_cast<uint32_t>(HexValue(line[end]));
            ++end;
        }
        if (end == pos || end - pos > 8 || !OnlyBlanks(line, end)) {
            error = "dword: must be followed by 1 to 8 hex digits";
            return false;
        }
        value = Value::OfInteger(static_cast<int32_t>(v));
        return true;
    }
    if (StartsWith(line, pos, "hex:")) {
        pos += 4;
        std::vector<uint8_t> bytes;
        size_t end = pos;
        while (end + 1 < line.size() && HexValue(line[end]) >= 0 && HexValue(line[end + 1]) >= 0) {
            bytes.push_back(static_cast<uint8_t>(HexValue(line[end]) * 16 + HexValue(line[end + 1])));
            end += 2;
        }
        if (!OnlyBlanks(line, end)) {
            error = "hex: must be followed by pairs of hex digits";
            return false;
        }
        value = Value::OfBinary(std::move(bytes));
        return true;
    }
    if (StartsWith(line, pos, "sz:")) {
        pos += 3;
        std::string text;
        if (!ParseQuoted(line, pos, text, error))
            return false;
        if (!OnlyBlanks(line, pos)) {
            error = "unexpected characters after the text";
            return false;
        }
        value = Value::OfString(std::move(text));
        return true;
    }
    error = "the value type must be dword:, hex: or sz:";
    return false;
}

}  // namespace

std::unique_ptr<MemoryBackend::Node> ParseTree(const std::string& text,
                                               std::vector<std::string>& errors)
{
    auto root = std::make_unique<MemoryBackend::Node>();
    MemoryBackend::Node* current = nullptr;
    bool skippingKey = false;   // the last key line was unreadable: its values are dropped
    size_t lineNo = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();

        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        auto fail = [&](const std::string& why) {
            errors.push_back("line " + std::to_string(lineNo) + ": " + why);
        };

        if (line[0] == '[') {
            const size_t close = line.rfind(']');
            if (close == std::string::npos || !OnlyBlanks(line, close + 1)) {
                fail("a key line must end with ']'");
                current = nullptr;
                skippingKey = true;
                continue;
            }
            const std::string keyText = line.substr(1, close - 1);
            std::optional<KeyPath> path = SplitKeyPath(keyText);
            if (!path || (!keyText.empty() && (keyText.front() == '\\' || keyText.back() == '\\'))) {
                fail("\"" + keyText + "\" is not a key path");
                current = nullptr;
                skippingKey = true;
                continue;
            }
            if (path->size() > kMaxKeyDepth) {
                fail(KeyTooDeepMessage(*path, path->size()));
                current = nullptr;
                skippingKey = true;
                continue;
            }
            MemoryBackend::Node* n = root.get();
            for (const std::string& name : *path) {
                auto& child = n->subkeys[name];
                if (!child)
                    child = std::make_unique<MemoryBackend::Node>();
                n = child.get();
            }
            current = n;
            skippingKey = false;
            continue;
        }

        if (line[0] == '"') {
            if (!current) {
                if (!skippingKey)
                    fail("a value before the first key");
                continue;
            }
            size_t pos = 0;
            std::string name, error;
            Value value;
            if (!ParseQuoted(line, pos, name, error)) {
                fail(error);
                continue;
            }
            if (pos >= line.size() || line[pos] != '=') {
                fail("'=' must follow the value name");
                continue;
            }
            if (!ParseData(line, pos + 1, value, error)) {
                fail(error);
                continue;
            }
            current->values[name] = std::move(value);
            continue;
        }
        fail("neither a key, a value nor a comment");
    }
    return root;
}

// ---- the file ---------------------------------------------------------------------------

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

std::string DirName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Creates the directory and those above it (mode 0700) when missing.
void MakeDirs(const std::string& dir, const std::string& forFile)
{
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return;
        throw RegistryIoError("The settings cannot be stored in \"" + forFile + "\": \"" + dir +
                              "\" is not a directory.");
    }
    const std::string parent = DirName(dir);
    if (parent != dir)
        MakeDirs(parent, forFile);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw RegistryIoError("The settings cannot be stored in \"" + forFile +
                              "\": the directory \"" + dir +
                              "\" cannot be created: " + ErrnoText(errno) + ".");
}

}  // namespace

bool FileBackend::Stamp::operator==(const Stamp& o) const
{
    return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           mtimeSec == o.mtimeSec && mtimeNsec == o.mtimeNsec;
}

static void FillStamp(const struct stat& st, bool& exists, unsigned long long& dev,
                      unsigned long long& ino, unsigned long long& size, long long& sec,
                      long long& nsec)
{
    exists = true;
    dev = static_cast<unsigned long long>(st.st_dev);
    ino = static_cast<unsigned long long>(st.st_ino);
    size = static_cast<unsigned long long>(st.st_size);
    sec = static_cast<long long>(st.st_mtim.tv_sec);
    nsec = static_cast<long long>(st.st_mtim.tv_nsec);
}

FileBackend::Stamp FileBackend::StatFile() const
{
    Stamp s;
    struct stat st;
    if (::stat(path_.c_str(), &st) == 0)
        FillStamp(st, s.exists, s.dev, s.ino, s.size, s.mtimeSec, s.mtimeNsec);
    return s;
}

FileBackend::FileBackend(std::string path) : path_(std::move(path))
{
    if (path_.empty())
        throw RegistryIoError("The settings file needs a path.");
    std::lock_guard<std::mutex> lock(mutex_);
    LoadLocked();
}

FileBackend::~FileBackend() = default;

std::string FileBackend::DefaultPath()
{
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDir;
        if (home && home[0] == '/') {
            homeDir = home;
        } else {
            struct passwd pw;
            struct passwd* found = nullptr;
            std::vector<char> buf(16384);
            if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found &&
                found->pw_dir && found->pw_dir[0] == '/')
                homeDir = found->pw_dir;
        }
        if (homeDir.empty())
            throw RegistryIoError(
                "No home directory is known (HOME is not set): the settings file cannot be found.");
        base = homeDir + "/.config";
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/vistrel/registry.ini";
}

std::string FileBackend::LoadProblem()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return problem_;
}

void FileBackend::LoadLocked()
{
    const std::string before = problem_;
    // A named pipe or a device would block the read or never end it: only a regular file
    // is opened (and O_NONBLOCK keeps a pipe put in its place meanwhile from blocking).
    const std::string notRegular = qsrf::WhyNotRegularFile(path_.c_str());
    int fd = -1;
    if (!notRegular.empty() && notRegular != "not found") {
        problem_ = "The settings file \"" + path_ + "\" cannot be read: it is " +
                   (notRegular == "not a regular file" ? notRegular : notRegular + ", not a regular file") +
                   ". Settings are not stored, so that the file is not overwritten.";
        writeBlocked_ = true;
        loaded_ = StatFile();
    } else if ((fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) < 0) {
        const int err = errno;
        if (err == ENOENT) {
            root_ = std::make_unique<Node>();
            loaded_ = Stamp();
            writeBlocked_ = false;
            problem_.clear();
            return;
        }
        problem_ = "The settings file \"" + path_ + "\" cannot be read: " + ErrnoText(err) +
                   ". Settings are not stored, so that the file is not overwritten.";
        writeBlocked_ = true;
        loaded_ = StatFile();
    } else {
        struct stat st;
        Stamp stamp;
        std::string failure;   // why the file could not be read; empty when it was
        if (::fstat(fd, &st) != 0)
            failure = ErrnoText(errno);
        else if (!S_ISREG(st.st_mode))
            failure = "it is not a regular file";   // replaced since it was looked at
        else
            FillStamp(st, stamp.exists, stamp.dev, stamp.ino, stamp.size, stamp.mtimeSec,
                      stamp.mtimeNsec);
        // Settings take a few kilobytes: a larger file is damaged beyond use, and neither
        // read nor copied.
        const std::string tooLong = " bytes long; a settings file holds at most " +
                                    std::to_string(kMaxSettingsFileSize) + " bytes";
        if (failure.empty() && static_cast<unsigned long long>(st.st_size) > kMaxSettingsFileSize)
            failure = "it is " + std::to_string(static_cast<unsigned long long>(st.st_size)) + tooLong;
        std::string text;
        char buf[8192];
        while (failure.empty()) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                text.append(buf, static_cast<size_t>(n));
            else if (n == 0)
                break;
            else if (errno != EINTR)
                failure = ErrnoText(errno);
            if (text.size() > kMaxSettingsFileSize)   // grown since it was looked at
                failure = "it is more than " + std::to_string(kMaxSettingsFileSize) + tooLong;
        }
        ::close(fd);
        loaded_ = stamp;
        if (!failure.empty()) {
            problem_ = "The settings file \"" + path_ + "\" cannot be read: " + failure +
                       ". Settings are not stored, so that the file is not overwritten.";
            writeBlocked_ = true;
        } else {
            std::vector<std::string> errors;
            root_ = ParseTree(text, errors);
            problem_.clear();
            writeBlocked_ = false;
            if (!errors.empty()) {
                std::string list;
                for (size_t i = 0; i < errors.size() && i < 5; ++i)
                    list += (i ? "; " : "") + errors[i];
                if (errors.size() > 5)
                    list += "; and " + std::to_string(errors.size() - 5) + " more";
                const std::string badPath = path_ + ".bad";
                try {
                    WriteFileLocked(badPath, text);
                    problem_ = "The settings file \"" + path_ + "\" is damaged (" + list +
                               "). Its readable settings are used; the damaged file was kept as \"" +
                               badPath + "\".";
                } catch (const RegistryIoError& e) {
                    problem_ = "The settings file \"" + path_ + "\" is damaged (" + list +
                               ") and no copy of it could be kept (" + e.what() +
                               "). Settings are not stored, so that the file is not overwritten.";
                    writeBlocked_ = true;
                }
            }
        }
    }
    if (!problem_.empty() && problem_ != before)
        std::fprintf(stderr, "%s\n", problem_.c_str());
}

void FileBackend::BeforeAccessLocked(bool changing)
{
    MemoryBackend::BeforeAccessLocked(changing);
    if (dirty_)
        return;   // unstored changes of our own win over the file
    if (!(StatFile() == loaded_))
        LoadLocked();
}

void FileBackend::FlushLocked()
{
    if (writeBlocked_)
        throw RegistryIoError(problem_);
    WriteFileLocked(path_, SerializeTree(*root_));
    loaded_ = StatFile();
}

void FileBackend::WriteFileLocked(const std::string& target, const std::string& text)
{
    const std::string dir = DirName(target);
    MakeDirs(dir, target);
    const std::string temp = target + ".tmp." + std::to_string(::getpid()) + "." +
                             std::to_string(++tempCounter_);
    auto failed = [&](const char* step, int err) {
        ::unlink(temp.c_str());
        throw RegistryIoError("The settings could not be stored in \"" + target + "\": " + step +
                              " failed: " + ErrnoText(err) + ".");
    };

    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int err = errno;
        throw RegistryIoError("The settings could not be stored in \"" + target +
                              "\": creating the temporary file failed: " + ErrnoText(err) + ".");
    }
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            failed("writing", err);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        failed("forcing the file to disk", err);
    }
    if (::close(fd) != 0)
        failed("closing the file", errno);
    if (::rename(temp.c_str(), target.c_str()) != 0)
        failed("renaming the temporary file", errno);
    // Make the rename itself durable; the new file is in place whatever this returns.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

}  // namespace qsrf::registry
