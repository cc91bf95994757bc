#pragma once
// A width x height map of float32 values that either borrows an array owned by somebody
// else or owns its own, and the float map file (.flt) it is stored in.
//
// .flt file, little-endian, no magic, exactly 30 + 4 x width x height bytes:
//   0  int32   width
//   4  int32   height
//   8  float32 scale factor 1   (1.0 for a map made from data; stored, not interpreted)
//  12  float32 scale factor 2
//  16  float32 scale factor 3
//  20  10 bytes reserved        (zeros for a map made from data; stored, not interpreted)
//  30  float32[width x height]  values row by row, top row first, each row left to right
//
// Plain C++: no GUI. Errors are EAppError with a message for the operator; a failed load
// or save leaves the map (and any existing file) as it was.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

constexpr size_t kFltHeaderSize = 30;
constexpr size_t kFltReservedSize = 10;

class TFloatImage {
public:
    // Ownership values.
    static constexpr int32_t kBorrowed = 1;     // never freed by the map
    static constexpr int32_t kAllocated = -1;   // made by the constructor from data
    static constexpr int32_t kLoaded = 0;       // made by reading a file

    // Reads the file at path (LoadFromFile). Raises EAppError when it cannot be read.
    explicit TFloatImage(const std::string& path);
    // A map of width x height values: borrows data when it is given, else owns width x
    // height values set to 0.0. Scale factors 1.0, reserved block zero. Raises EAppError
    // for dimensions that are not above 0.
    TFloatImage(float* data, int32_t width, int32_t height);
    ~TFloatImage();
    TFloatImage(const TFloatImage&) = delete;
    TFloatImage& operator=(const TFloatImage&) = delete;

    // Writes the map as a .flt file. The file is written under a temporary name in the same
    // directory and renamed over path when complete, so an existing file is replaced only
    // by a whole one.
    void SaveToFile(const std::string& path) const;
    // Reads a .flt file: width and height above 0, no size overflow, and a file of exactly
    // 30 + 4 x width x height bytes. Afterwards the map owns the values read and its name
    // is path. On any error nothing changes.
    void LoadFromFile(const std::string& path);

    const std::string& Name() const { return name_; }
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    size_t Count() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }
    float* Data() { return data_; }
    const float* Data() const { return data_; }
    const float* ScaleFactors() const { return scale_; }
    const uint8_t* Reserved() const { return reserved_; }
    int32_t Ownership() const { return ownership_; }

private:
    void Release();

    std::string name_;            // the file's path; empty for a map made from data
    int32_t width_ = 0;
    int32_t height_ = 0;
    float scale_[3] = {1.0f, 1.0f, 1.0f};
    uint8_t reserved_[kFltReservedSize] = {};
    float* data_ = nullptr;
    int32_t ownership_ = kLoaded;
};

// Writes a file through write, which returns false on a write error (errno set): under a
// temporary name in the same directory, renamed over path once complete and closed, so an
// existing file is replaced only by a whole one. Raises EAppError (and leaves no temporary
// file) when the file cannot be created or written.
void WriteFileReplacing(const std::string& path, const std::function<bool(FILE*)>& write);
// The same without raising: 0 when the file was written, else the errno of the failure;
// *created (when given) tells whether the temporary file had been made.
int ReplaceFile(const std::string& path, const std::function<bool(FILE*)>& write, bool* created = nullptr);
