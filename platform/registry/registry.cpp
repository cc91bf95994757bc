// Values, key paths, the in-memory tree, the process's backend and the registry object.

#include "registry.h"

#include <cstddef>
#include <cstring>

namespace qsrf::registry {

// ---- values -----------------------------------------------------------------------------

Value Value::OfInteger(int32_t v)
{
    Value r;
    r.type = ValueType::Integer;
    r.integer = v;
    return r;
}

Value Value::OfBinary(std::vector<uint8_t> bytes)
{
    Value r;
    r.type = ValueType::Binary;
    r.binary = std::move(bytes);
    return r;
}

Value Value::OfString(std::string s)
{
    Value r;
    r.type = ValueType::String;
    r.text = std::move(s);
    return r;
}

Value Value::OfFloat(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    std::vector<uint8_t> bytes(8);
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    return OfBinary(std::move(bytes));
}

bool Value::operator==(const Value& o) const
{
    if (type != o.type)
        return false;
    switch (type) {
    case ValueType::Integer: return integer == o.integer;
    case ValueType::Binary: return binary == o.binary;
    case ValueType::String: return text == o.text;
    }
    return false;
}

static double FloatFromBytes(const std::vector<uint8_t>& bytes)
{
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i)
        bits |= static_cast<uint64_t>(bytes[i]) << (8 * i);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// ---- names and paths --------------------------------------------------------------------

static unsigned char Fold(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool NameLess::operator()(const std::string& a, const std::string& b) const
{
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = Fold(static_cast<unsigned char>(a[i]));
        const unsigned char y = Fold(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::optional<KeyPath> SplitKeyPath(const std::string& path)
{
    size_t begin = 0, end = path.size();
    while (begin < end && path[begin] == '\\')
        ++begin;
    while (end > begin && path[end - 1] == '\\')
        --end;
    KeyPath result;
    if (begin == end)
        return result;
    size_t start = begin;
    for (size_t i = begin; i <= end; ++i) {
        if (i == end || path[i] == '\\') {
            if (i == start)
                return std::nullopt;   // "A\\B": an empty key name
            result.push_back(path.substr(start, i - start));
            start = i + 1;
        } else if (static_cast<unsigned char>(path[i]) < 0x20 || path[i] == 0x7f) {
            return std::nullopt;
        }
    }
    return result;
}

std::string JoinKeyPath(const KeyPath& path)
{
    std::string s;
    for (size_t i = 0; i < path.size(); ++i) {
        if (i)
            s += '\\';
        s += path[i];
    }
    return s;
}

std::string KeyTooDeepMessage(const KeyPath& path, size_t depth)
{
    // Only the first names are shown: the path itself may be enormous.
    KeyPath shown(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(
                                                 path.size() < 3 ? path.size() : 3));
    return "Registry key \"" + JoinKeyPath(shown) + "\\...\" is " + std::to_string(depth) +
           " levels deep; keys may be at most " + std::to_string(kMaxKeyDepth) + " levels deep.";
}

// ---- the tree in memory -----------------------------------------------------------------

MemoryBackend::Node::~Node()
{
    // Each node's subkeys are moved out before it is freed, so every destructor that runs
    // below this one finds no subkeys and the stack stays flat.
    std::vector<std::unique_ptr<Node>> pending;
    for (auto& [name, child] : subkeys)
        pending.push_back(std::move(child));
    subkeys.clear();
    while (!pending.empty()) {
        std::unique_ptr<Node> n = std::move(pending.back());
        pending.pop_back();
        for (auto& [name, child] : n->subkeys)
            pending.push_back(std::move(child));
        n->subkeys.clear();
    }
}

MemoryBackend::MemoryBackend() : root_(std::make_unique<Node>()) {}
MemoryBackend::~MemoryBackend() = default;

void MemoryBackend::BeforeAccessLocked(bool changing)
{
    if (changing && writesFail_)
        throw RegistryIoError("The registry refuses changes (writes are set to fail).");
}

MemoryBackend::Node* MemoryBackend::FindLocked(const KeyPath& key)
{
    Node* n = root_.get();
    for (const std::string& name : key) {
        auto it = n->subkeys.find(name);
        if (it == n->subkeys.end())
            return nullptr;
        n = it->second.get();
    }
    return n;
}

bool MemoryBackend::KeyExists(const KeyPath& key)
{
    std::lock_guard<std::mutex> lock(mutex_);
    BeforeAccessLocked(false);
    return FindLocked(key) != nullptr;
}

void MemoryBackend::CreateKey(const KeyPath& key)
{
    if (key.size() > kMaxKeyDepth)
        throw RegistryError(KeyTooDeepMessage(key, key.size()));
    for (const std::string& name : key)
        if (!SplitKeyPath(name) || name.empty() || name.find('\\') != std::string::npos)
            throw RegistryError("\"" + name + "\" is not a valid registry key name.");
    std::lock_guard<std::mutex> lock(mutex_);
    BeforeAccessLocked(true);
    if (FindLocked(key))
        return;
    Node* n = root_.get();
    for (const std::string& name : key) {
        auto& child = n->subkeys[name];
        if (!child)
            child = std::make_unique<Node>();
        n = child.get();
    }
    MarkChangedLocked();
}

bool MemoryBackend::DeleteKey(const KeyPath& key)
{
    std::lock_guard<std::mutex> lock(mutex_);
    BeforeAccessLocked(true);
    if (key.empty())
        return false;
    KeyPath parent(key.begin(), key.end() - 1);
    Node* p = FindLocked(parent);
    if (!p)
        return false;
    if (p->subkeys.erase(key.back()) == 0)
        return false;
    MarkChangedLocked();
    return true;
}

std::optional<Value> MemoryBackend::GetValue(const KeyPath& key, const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    BeforeAccessLocked(false);
    Node* n = FindLocked(key);
    if (!n)
        return std::nullopt;
    auto it = n->values.find(name);
    if (it == n->values.end())
        return std::nullopt;
    return it->second;
}

void MemoryBackend::SetValue(const KeyPath& key, const std::string& name, const Value& value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    BeforeAccessLocked(true);
    Node* n = FindLocked(key);
    if (!n)
        throw RegistryError("Registry key \"" + JoinKeyPath(key) +
                            "\" does not exist: value \"" + name + "\" cannot be written.");
    auto it = n->values.find(name);
    if (it != n->values.end()) {
        if (it->second == value)
            return;
        it->second = value;
    } else {
        n->values.emplace(name, value);
    }
    MarkChangedLocked();
}

bool MemoryBackend::DeleteValue(const KeyPath& key, const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    BeforeAccessLocked(true);
    Node* n = FindLocked(key);
    if (!n || n->values.erase(name) == 0)
        return false;
    MarkChangedLocked();
    return true;
}

void MemoryBackend::Flush()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!dirty_)
        return;
    FlushLocked();
    dirty_ = false;
}

void MemoryBackend::SetWritesFail(bool fail)
{
    std::lock_guard<std::mutex> lock(mutex_);
    writesFail_ = fail;
}

// ---- the process's backend --------------------------------------------------------------

namespace {
std::mutex g_processMutex;
std::shared_ptr<RegistryBackend> g_process;
}  // namespace

std::shared_ptr<RegistryBackend> ProcessBackend()
{
    std::lock_guard<std::mutex> lock(g_processMutex);
    if (!g_process)
        g_process = std::make_shared<FileBackend>(FileBackend::DefaultPath());
    return g_process;
}

void SetProcessBackend(std::shared_ptr<RegistryBackend> backend)
{
    std::lock_guard<std::mutex> lock(g_processMutex);
    g_process = std::move(backend);
}

ScopedProcessBackend::ScopedProcessBackend(std::shared_ptr<RegistryBackend> backend)
{
    std::lock_guard<std::mutex> lock(g_processMutex);
    previous_ = std::move(g_process);
    g_process = std::move(backend);
}

ScopedProcessBackend::~ScopedProcessBackend()
{
    std::lock_guard<std::mutex> lock(g_processMutex);
    g_process = std::move(previous_);
}

// ---- the registry object ----------------------------------------------------------------

Registry::Registry() : backend_(ProcessBackend()) {}

Registry::Registry(std::shared_ptr<RegistryBackend> backend) : backend_(std::move(backend))
{
    if (!backend_)
        throw RegistryError("A registry object needs a backend.");
}

Registry::~Registry()
{
    try {
        CloseKey();
    } catch (const RegistryError&) {
        // Nobody is left to tell; callers that care call CloseKey themselves.
    }
}

std::optional<KeyPath> Registry::Resolve(const std::string& key) const
{
    std::optional<KeyPath> rel = SplitKeyPath(key);
    if (!rel)
        return std::nullopt;
    if (!key.empty() && key[0] == '\\')
        return rel;
    KeyPath full = current_;
    full.insert(full.end(), rel->begin(), rel->end());
    return full;
}

bool Registry::OpenKey(const std::string& key, bool canCreate)
{
    std::optional<KeyPath> path = Resolve(key);
    if (!path)
        return false;
    if (!backend_->KeyExists(*path)) {
        if (!canCreate)
            return false;
        backend_->CreateKey(*path);
        wrote_ = true;
    }
    current_ = std::move(*path);
    return true;
}

void Registry::CloseKey()
{
    current_.clear();
    if (wrote_) {
        wrote_ = false;
        backend_->Flush();
    }
}

std::string Registry::CurrentPath() const { return JoinKeyPath(current_); }

bool Registry::KeyExists(const std::string& key)
{
    std::optional<KeyPath> path = Resolve(key);
    return path && backend_->KeyExists(*path);
}

bool Registry::DeleteKey(const std::string& key)
{
    std::optional<KeyPath> path = Resolve(key);
    if (!path || path->empty())
        return false;
    const bool deleted = backend_->DeleteKey(*path);
    if (deleted)
        wrote_ = true;
    return deleted;
}

bool Registry::ValueExists(const std::string& name)
{
    return backend_->GetValue(current_, name).has_value();
}

bool Registry::DeleteValue(const std::string& name)
{
    const bool deleted = backend_->DeleteValue(current_, name);
    if (deleted)
        wrote_ = true;
    return deleted;
}

static std::string Describe(const Value& v)
{
    switch (v.type) {
    case ValueType::Integer: return "a 32-bit integer";
    case ValueType::Binary: return "binary data of " + std::to_string(v.binary.size()) + " bytes";
    case ValueType::String: return "text";
    }
    return "an unknown type";
}

Value Registry::Get(const std::string& name, ValueType wanted, const char* wantedText,
                   size_t requiredSize)
{
    std::optional<Value> v = backend_->GetValue(current_, name);
    if (!v)
        throw MissingValueError("Registry value \"" + name + "\" is missing in key \"" +
                                CurrentPath() + "\".");
    if (v->type != wanted || (requiredSize != kAnySize && v->binary.size() != requiredSize))
        throw WrongTypeError("Registry value \"" + name + "\" in key \"" + CurrentPath() +
                             "\" holds " + Describe(*v) + ", not " + wantedText + ".");
    return *v;
}

void Registry::Set(const std::string& name, const Value& value)
{
    wrote_ = true;
    backend_->SetValue(current_, name, value);
}

int32_t Registry::ReadInteger(const std::string& name)
{
    return Get(name, ValueType::Integer, "a 32-bit integer").integer;
}

double Registry::ReadFloat(const std::string& name)
{
    return FloatFromBytes(
        Get(name, ValueType::Binary, "an 8-byte floating-point value", 8).binary);
}

bool Registry::ReadBool(const std::string& name)
{
    return Get(name, ValueType::Integer, "a boolean (an integer 0 or 1)").integer != 0;
}

std::string Registry::ReadString(const std::string& name)
{
    std::optional<Value> v = backend_->GetValue(current_, name);
    if (!v)
        return std::string();
    if (v->type != ValueType::String)
        throw WrongTypeError("Registry value \"" + name + "\" in key \"" + CurrentPath() +
                             "\" holds " + Describe(*v) + ", not text.");
    return v->text;
}

std::vector<uint8_t> Registry::ReadBinaryData(const std::string& name)
{
    return Get(name, ValueType::Binary, "binary data").binary;
}

void Registry::WriteInteger(const std::string& name, int32_t value)
{
    Set(name, Value::OfInteger(value));
}

void Registry::WriteFloat(const std::string& name, double value)
{
    Set(name, Value::OfFloat(value));
}

void Registry::WriteBool(const std::string& name, bool value)
{
    Set(name, Value::OfInteger(value ? 1 : 0));
}

void Registry::WriteString(const std::string& name, const std::string& value)
{
    Set(name, Value::OfString(value));
}

void Registry::WriteBinaryData(const std::string& name, const std::vector<uint8_t>& value)
{
    Set(name, Value::OfBinary(value));
}

}  // namespace qsrf::registry
