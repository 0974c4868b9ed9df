// Per-user values that outlive a run: a named 32-bit integer or text read once when it is made
// and written back once when it is freed. Used by the persistent radio group and the window.
#pragma once

#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QSettings;

namespace tessaly {

// Every key of the program lives under this path, followed by the executable's base name.
inline constexpr char kRegistryKeyRoot[] = "\\Software\\Kestrelwood\\";
inline constexpr char kRegistryOrganisation[] = "Kestrelwood";

// The executable's file name without folder and without its last extension.
QString ProgramBaseName(const QString& executablePath);

// ProgramBaseName of the running executable (needs the application object).
QString RunningProgramBaseName();

// The stored value as a 32-bit integer, or nothing when it is of another kind. Text stores
// (every store but the Windows registry) hold integers as decimal text.
std::optional<qint32> StoredInteger(const QVariant& stored, bool textStore);

// One named value under the program's key. Making it touches no store.
class TRegistryVariable {
 public:
  explicit TRegistryVariable(const QString& valueName);
  // The base name stands for the executable's, so copies under other names can be modelled.
  TRegistryVariable(const QString& valueName, const QString& programBaseName);
  virtual ~TRegistryVariable();
  TRegistryVariable(const TRegistryVariable&) = delete;
  TRegistryVariable& operator=(const TRegistryVariable&) = delete;

  const QString& KeyPath() const { return keyPath_; }
  const QString& ValueName() const { return valueName_; }

 protected:
  // A handle on the program's key in the per-user store; fallbacks to organisation-wide
  // or system-wide files are off, so only this key counts.
  std::unique_ptr<QSettings> OpenKey() const;

 private:
  QString programBaseName_;
  QString keyPath_;
  QString valueName_;
};

// A 32-bit integer value: read at creation (default on any failure), written when freed.
class TRegistryInteger : public TRegistryVariable {
 public:
  TRegistryInteger(const QString& valueName, qint32 defaultValue);
  TRegistryInteger(const QString& valueName, qint32 defaultValue, const QString& programBaseName);
  ~TRegistryInteger() override;

  qint32 Value() const { return value_; }
  void SetValue(qint32 value) { value_ = value; }

 private:
  void Read();
  void Write() const noexcept;

  qint32 value_;
};

// A text value: read at creation (default when missing or not text), written when freed. An
// empty text is stored as no value at all, so that a setting never made leaves no trace.
class TRegistryString : public TRegistryVariable {
 public:
  TRegistryString(const QString& valueName, const QString& defaultValue);
  ~TRegistryString() override;

  const QString& Value() const { return value_; }
  void SetValue(const QString& value) { value_ = value; }

 private:
  void Write() const noexcept;

  QString value_;
};

}  // namespace tessaly
