#pragma once
// The current user's registry: a tree of keys holding named, typed values.
//
// Key paths are relative to HKEY_CURRENT_USER and separated by backslashes
// ("Software\Kestrove NT\Qsrf\0.01\Path"); key and value names compare without regard to
// ASCII case and keep the spelling they were created with. Values are 32-bit integers,
// binary data (a floating-point value is 8 bytes of binary data holding an IEEE double,
// least significant byte first) or text; a boolean is an integer 0 or 1.
//
// A backend holds the tree: MemoryBackend for tests, FileBackend for the per-user file
// (see FileBackend). One backend serves the whole process (ProcessBackend); Registry
// objects are short-lived views on it, one per piece of work: open a key, read or write,
// close.
//
// Backends are thread-safe. A Registry object is used by one thread at a time.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qsrf::registry {

// ---- errors -----------------------------------------------------------------------------

// Every error of the registry.
class RegistryError : public std::runtime_error {
public:
    explicit RegistryError(const std::string& message) : std::runtime_error(message) {}
};

// A value that was asked for is not in the key.
class MissingValueError : public RegistryError {
public:
    using RegistryError::RegistryError;
};

// A value exists but holds another type than the one asked for.
class WrongTypeError : public RegistryError {
public:
    using RegistryError::RegistryError;
};

// The settings could not be read from or written to their file (or writes are refused).
class RegistryIoError : public RegistryError {
public:
    using RegistryError::RegistryError;
};

// ---- values -----------------------------------------------------------------------------

enum class ValueType { Integer, Binary, String };

struct Value {
    ValueType type = ValueType::Integer;
    int32_t integer = 0;              // ValueType::Integer
    std::vector<uint8_t> binary;      // ValueType::Binary
    std::string text;                 // ValueType::String

    static Value OfInteger(int32_t v);
    static Value OfBinary(std::vector<uint8_t> bytes);
    static Value OfString(std::string s);
    static Value OfFloat(double v);   // 8 bytes of binary data

    bool operator==(const Value& o) const;
    bool operator!=(const Value& o) const { return !(*this == o); }
};

// A key path split into its key names; the empty path is HKEY_CURRENT_USER itself.
using KeyPath = std::vector<std::string>;

// The deepest key there may be, in key names below HKEY_CURRENT_USER. The program's own
// keys are six deep; the limit keeps a damaged file or a runaway caller from building a
// tree too deep to store or to walk.
constexpr size_t kMaxKeyDepth = 64;

// The message that refuses a key of `depth` names (more than kMaxKeyDepth) whose path
// begins with the names of `path`.
std::string KeyTooDeepMessage(const KeyPath& path, size_t depth);

// Splits "A\B\C" (leading and trailing backslashes ignored) into its names. Returns
// nullopt for an empty key name inside the path ("A\\B") or a name holding a control
// character.
std::optional<KeyPath> SplitKeyPath(const std::string& path);
std::string JoinKeyPath(const KeyPath& path);

// Case-insensitive (ASCII) ordering of names.
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};
bool SameName(const std::string& a, const std::string& b);

// ---- backends ---------------------------------------------------------------------------

class RegistryBackend {
public:
    virtual ~RegistryBackend() = default;

    virtual bool KeyExists(const KeyPath& key) = 0;
    // Creates the key and every missing key above it. RegistryError for an invalid name or
    // a key deeper than kMaxKeyDepth.
    virtual void CreateKey(const KeyPath& key) = 0;
    // Deletes the key with all its subkeys and values; false when it does not exist.
    // The root cannot be deleted.
    virtual bool DeleteKey(const KeyPath& key) = 0;
    // The value, or nullopt when the key or the value does not exist.
    virtual std::optional<Value> GetValue(const KeyPath& key, const std::string& name) = 0;
    // Sets the value in an existing key; RegistryError when the key does not exist.
    virtual void SetValue(const KeyPath& key, const std::string& name, const Value& value) = 0;
    virtual bool DeleteValue(const KeyPath& key, const std::string& name) = 0;
    // Stores changes made so far where the backend keeps them; RegistryIoError on failure.
    virtual void Flush() = 0;
};

// The tree in memory only: what tests run against.
class MemoryBackend : public RegistryBackend {
public:
    MemoryBackend();
    ~MemoryBackend() override;

    bool KeyExists(const KeyPath& key) override;
    void CreateKey(const KeyPath& key) override;
    bool DeleteKey(const KeyPath& key) override;
    std::optional<Value> GetValue(const KeyPath& key, const std::string& name) override;
    void SetValue(const KeyPath& key, const std::string& name, const Value& value) override;
    bool DeleteValue(const KeyPath& key, const std::string& name) override;
    void Flush() override;

    // For tests: while set, every change (create, set, delete) raises RegistryIoError.
    void SetWritesFail(bool fail);

    struct Node {
        Node() = default;
        // Frees the subtree without recursion, so no depth of keys can exhaust the stack.
        ~Node();
        Node(const Node&) = delete;
        Node& operator=(const Node&) = delete;

        std::map<std::string, std::unique_ptr<Node>, NameLess> subkeys;
        std::map<std::string, Value, NameLess> values;
    };

protected:
    // Called with the lock held before every operation; `changing` for operations that
    // modify the tree.
    virtual void BeforeAccessLocked(bool changing);
    // Called with the lock held by Flush.
    virtual void FlushLocked() {}

    Node* FindLocked(const KeyPath& key);
    void MarkChangedLocked() { dirty_ = true; }

    std::mutex mutex_;
    std::unique_ptr<Node> root_;
    bool dirty_ = false;   // changes not yet flushed
    bool writesFail_ = false;
};

// The longest settings file read, in bytes.
constexpr unsigned long long kMaxSettingsFileSize = 4ull << 20;

// The tree kept in one file. The file is read when the backend is made and read again
// whenever it has changed on disk while this backend holds no unstored changes; Flush
// writes the whole tree to a temporary file in the same directory, forces it to disk and
// renames it over the file, so the file is always either the old or the new settings.
//
// File format (UTF-8 text, one item per line, '\n' line ends):
//   # comment                    lines whose first non-blank character is '#', and blank
//                                lines, are ignored
//   [Software\Kestrove NT\Qsrf]  a key: its full path below HKEY_CURRENT_USER, up to the
//                                last ']' of the line; "[]" is HKEY_CURRENT_USER itself
//   "name"=dword:0000000a        a 32-bit integer value of the key above, 1 to 8 hex digits
//   "name"=hex:000000000000e03f  binary data, two hex digits per byte (may be empty)
//   "name"=sz:"text"             text
// Names and texts are quoted; inside quotes \\ \" \n \r \t and \xHH stand for a backslash,
// a quote, line feed, carriage return, tab and any byte. Every key is written as its own
// line, so an empty key survives too.
//
// A file longer than kMaxSettingsFileSize is not read: it is reported like a file that
// cannot be read.
//
// A file with lines that cannot be read is reported (LoadProblem, and once on stderr):
// its readable keys and values are used and the damaged file is first copied to the same
// name with ".bad" added, so that storing the settings later loses nothing. A file that
// cannot be read at all, or whose copy cannot be made, is never overwritten: Flush then
// raises RegistryIoError.
class FileBackend : public MemoryBackend {
public:
    explicit FileBackend(std::string path);
    ~FileBackend() override;

    // $XDG_CONFIG_HOME/vistrel/registry.ini, or ~/.config/vistrel/registry.ini when
    // XDG_CONFIG_HOME is unset, empty or not an absolute path. RegistryIoError when no
    // home directory is known.
    static std::string DefaultPath();

    const std::string& Path() const { return path_; }
    // A description of what went wrong reading the file, or empty.
    std::string LoadProblem();

protected:
    void BeforeAccessLocked(bool changing) override;
    void FlushLocked() override;

private:
    struct Stamp {
        bool exists = false;
        unsigned long long dev = 0, ino = 0, size = 0;
        long long mtimeSec = 0, mtimeNsec = 0;
        bool operator==(const Stamp& o) const;
    };
    Stamp StatFile() const;
    void LoadLocked();
    void WriteFileLocked(const std::string& target, const std::string& text);

    std::string path_;
    Stamp loaded_;
    bool writeBlocked_ = false;   // the file on disk must not be overwritten
    std::string problem_;
    unsigned tempCounter_ = 0;
};

// Text form of a tree and back (the file format above). ParseTree collects one message per
// line it could not read ("line 3: ...") and keeps everything else; a key line deeper than
// kMaxKeyDepth is one of them, and its values are dropped with it.
std::string SerializeTree(const MemoryBackend::Node& root);
std::unique_ptr<MemoryBackend::Node> ParseTree(const std::string& text,
                                               std::vector<std::string>& errors);

// ---- the process's backend --------------------------------------------------------------

// The backend every Registry object made without one uses: the one set last, or else a
// FileBackend at FileBackend::DefaultPath(), made on first use.
std::shared_ptr<RegistryBackend> ProcessBackend();
// Sets it; null returns to the default file backend.
void SetProcessBackend(std::shared_ptr<RegistryBackend> backend);

// Sets the process's backend for the lifetime of this object (tests), then restores it.
class ScopedProcessBackend {
public:
    explicit ScopedProcessBackend(std::shared_ptr<RegistryBackend> backend);
    ~ScopedProcessBackend();
    ScopedProcessBackend(const ScopedProcessBackend&) = delete;
    ScopedProcessBackend& operator=(const ScopedProcessBackend&) = delete;

private:
    std::shared_ptr<RegistryBackend> previous_;
};

// ---- the registry object ----------------------------------------------------------------

// A view on a backend with one current key. Paths given to OpenKey, KeyExists and
// DeleteKey are relative to the current key unless they begin with a backslash; with no
// key open the current key is HKEY_CURRENT_USER itself.
class Registry {
public:
    Registry();
    explicit Registry(std::shared_ptr<RegistryBackend> backend);
    // Closes the key; changes not yet stored are flushed, a failure then goes unreported
    // (call CloseKey to learn of it).
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Makes the key current. Without canCreate, false when it does not exist; with it, the
    // key is created when missing. False also for an invalid path. The current key stays
    // as it was when false is returned. Creating a key deeper than kMaxKeyDepth raises
    // RegistryError (KeyTooDeepMessage).
    bool OpenKey(const std::string& key, bool canCreate);
    // Stores the changes made through this object and returns to HKEY_CURRENT_USER.
    // RegistryIoError when they cannot be stored.
    void CloseKey();
    // The current key's path ("" for HKEY_CURRENT_USER).
    std::string CurrentPath() const;

    bool KeyExists(const std::string& key);
    bool DeleteKey(const std::string& key);
    bool ValueExists(const std::string& name);
    bool DeleteValue(const std::string& name);

    // Reads raise MissingValueError when the value is absent and WrongTypeError when it
    // holds another type; ReadString gives "" for an absent value.
    int32_t ReadInteger(const std::string& name);
    double ReadFloat(const std::string& name);
    bool ReadBool(const std::string& name);
    std::string ReadString(const std::string& name);
    std::vector<uint8_t> ReadBinaryData(const std::string& name);

    void WriteInteger(const std::string& name, int32_t value);
    void WriteFloat(const std::string& name, double value);
    void WriteBool(const std::string& name, bool value);
    void WriteString(const std::string& name, const std::string& value);
    void WriteBinaryData(const std::string& name, const std::vector<uint8_t>& value);

private:
    std::optional<KeyPath> Resolve(const std::string& key) const;
    static constexpr size_t kAnySize = static_cast<size_t>(-1);
    Value Get(const std::string& name, ValueType wanted, const char* wantedText,
              size_t requiredSize = kAnySize);
    void Set(const std::string& name, const Value& value);

    std::shared_ptr<RegistryBackend> backend_;
    KeyPath current_;
    bool wrote_ = false;
};

}  // namespace qsrf::registry
