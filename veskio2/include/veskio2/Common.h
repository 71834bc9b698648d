// Types shared by the configuration files and the transfer-function file:
// versions, vectors, positions, the optional-field helper and the exceptions.
#ifndef VESKIO2_COMMON_H
#define VESKIO2_COMMON_H

#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include <boost/optional.hpp>

namespace veskio2 {

// Thrown by the getter of an unset field: "<field> is not initialized".
class NotInitialized : public std::runtime_error {
public:
  explicit NotInitialized(const std::string& field) : std::runtime_error(field + " is not initialized") {}
};

// A configuration file that cannot be read: not XML, wrong root, bad value,
// unknown id or version, missing file. The message names the file.
class AnalyzeError : public std::runtime_error {
public:
  explicit AnalyzeError(const std::string& what) : std::runtime_error(what) {}
};

// A transfer-function file object that cannot be written (ragged arrays,
// disagreeing counts) or a binary file that cannot be read back.
class InvalidVeskFile : public std::runtime_error {
public:
  explicit InvalidVeskFile(const std::string& what) : std::runtime_error(what) {}
};

class Version {
public:
  Version() : major_(0), minor_(0) {}
  Version(unsigned int major, unsigned int minor) : major_(major), minor_(minor) {}
  unsigned int GetMajor() const { return major_; }
  unsigned int GetMinor() const { return minor_; }
  bool operator==(const Version& o) const { return major_ == o.major_ && minor_ == o.minor_; }
  bool operator!=(const Version& o) const { return !(*this == o); }
  // "major.minor", e.g. "2.0".
  std::string ToString() const { return std::to_string(major_) + "." + std::to_string(minor_); }

private:
  unsigned int major_;
  unsigned int minor_;
};

template <typename T>
struct Vector3 {
  T x = 0, y = 0, z = 0;
  Vector3() = default;
  Vector3(T x_, T y_, T z_) : x(x_), y(y_), z(z_) {}
  Vector3 operator*(T s) const { return Vector3(x * s, y * s, z * s); }
  Vector3 operator/(T s) const { return Vector3(x / s, y / s, z / s); }
  Vector3 operator+(const Vector3& o) const { return Vector3(x + o.x, y + o.y, z + o.z); }
  Vector3 operator-(const Vector3& o) const { return Vector3(x - o.x, y - o.y, z - o.z); }
  bool operator==(const Vector3& o) const { return x == o.x && y == o.y && z == o.z; }
  T Length() const { return std::sqrt(x * x + y * y + z * z); }
};

// A unit direction and an optional distance (metres).
template <typename T>
class Position {
public:
  Position() = default;
  explicit Position(const Vector3<T>& direction) : direction_(direction) {}
  Position(const Vector3<T>& direction, T distance) : direction_(direction), distance_(distance) {}

  const Vector3<T>& GetDirection() const { return direction_; }
  void SetDirection(const Vector3<T>& d) { direction_ = d; }
  bool HasDistance() const { return static_cast<bool>(distance_); }
  T GetDistance() const {
    if (!distance_) throw NotInitialized("distance");
    return *distance_;
  }
  void SetDistance(T d) { distance_ = d; }
  void ClearDistance() { distance_ = boost::none; }
  // direction × distance; a position without distance is its direction.
  Vector3<T> ToCartesian() const { return distance_ ? direction_ * *distance_ : direction_; }

private:
  Vector3<T> direction_;
  boost::optional<T> distance_;
};

// Unit direction v/|v| and distance |v|. Throws std::range_error
// "length of given vector is zero" for the zero vector.
template <typename T>
Position<T> MakePositionFromVector(const Vector3<T>& v) {
  const T length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  if (length == 0) throw std::range_error("length of given vector is zero");
  return Position<T>(v / length, length);
}

}  // namespace veskio2

// Declares one optional field: SetName(v) (copying or moving), HasName(), GetName() (throws
// NotInitialized("name")), ClearName(). `name` is the field's own name as the
// files and messages spell it.
#define VESKIO2_FIELD(Type, Name, name)                         \
public:                                                         \
  void Set##Name(const Type& value) { name##_ = value; }        \
  void Set##Name(Type&& value) { name##_ = std::move(value); }  \
  bool Has##Name() const { return static_cast<bool>(name##_); } \
  const Type& Get##Name() const {                               \
    if (!name##_) throw ::veskio2::NotInitialized(#name);       \
    return *name##_;                                            \
  }                                                             \
  void Clear##Name() { name##_ = boost::none; }                 \
                                                                \
private:                                                        \
  boost::optional<Type> name##_;

#endif
