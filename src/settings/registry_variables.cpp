// Per-user integer values over the platform's native settings store.
#include "settings/registry_variables.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

#include <limits>

namespace tessaly {
namespace {

std::optional<qint32> FromWide(qint64 value) {
  if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max()) {
    return std::nullopt;
  }
  return static_cast<qint32>(value);
}

#ifdef Q_OS_WIN
constexpr bool kTextStore = false;
#else
constexpr bool kTextStore = true;
#endif

}  // namespace

QString ProgramBaseName(const QString& executablePath) {
  const QString fileName = QFileInfo(executablePath).fileName();
  const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
  return dot < 0 ? fileName : fileName.left(dot);
}

QString RunningProgramBaseName() {
  return ProgramBaseName(QCoreApplication::applicationFilePath());
}

std::optional<qint32> StoredInteger(const QVariant& stored, bool textStore) {
  bool ok = false;
  switch (stored.typeId()) {
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::Char:
    case QMetaType::SChar:
      return stored.toInt();
    case QMetaType::UInt:
      // A DWORD above 0x7FFFFFFF is read back as the signed number with the same bits.
      return static_cast<qint32>(stored.toUInt());
    case QMetaType::UShort:
    case QMetaType::UChar:
      return static_cast<qint32>(stored.toUInt());
    case QMetaType::LongLong:
      return FromWide(stored.toLongLong());
    case QMetaType::ULongLong: {
      const qulonglong wide = stored.toULongLong();
      if (wide > static_cast<qulonglong>(std::numeric_limits<qint32>::max())) return std::nullopt;
      return static_cast<qint32>(wide);
    }
    case QMetaType::QString: {
      if (!textStore) return std::nullopt;
      const qint32 value = stored.toString().toInt(&ok, 10);
      if (!ok) return std::nullopt;
      return value;
    }
    default:
      return std::nullopt;
  }
}

TRegistryVariable::TRegistryVariable(const QString& valueName)
    : TRegistryVariable(valueName, RunningProgramBaseName()) {}

TRegistryVariable::TRegistryVariable(const QString& valueName, const QString& programBaseName)
    : programBaseName_(programBaseName),
      keyPath_(QLatin1String(kRegistryKeyRoot) + programBaseName),
      valueName_(valueName) {}

TRegistryVariable::~TRegistryVariable() = default;

std::unique_ptr<QSettings> TRegistryVariable::OpenKey() const {
  // In the native format the organisation and application name the key
  // \Software\<organisation>\<application> of the current user.
  auto settings =
      std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                  QLatin1String(kRegistryOrganisation), programBaseName_);
  settings->setFallbacksEnabled(false);
  return settings;
}

TRegistryInteger::TRegistryInteger(const QString& valueName, qint32 defaultValue)
    : TRegistryVariable(valueName), value_(defaultValue) {
  Read();
}

TRegistryInteger::TRegistryInteger(const QString& valueName, qint32 defaultValue,
                                   const QString& programBaseName)
    : TRegistryVariable(valueName, programBaseName), value_(defaultValue) {
  Read();
}

TRegistryInteger::~TRegistryInteger() {
  Write();
}

void TRegistryInteger::Read() {
  // The store cannot hold an unnamed value; a missing name keeps the default.
  if (ValueName().isEmpty()) return;
  const auto settings = OpenKey();
  if (settings->status() != QSettings::NoError || !settings->contains(ValueName())) return;
  if (const auto stored = StoredInteger(settings->value(ValueName()), kTextStore)) {
    value_ = *stored;
  }
}

void TRegistryInteger::Write() const noexcept {
  if (ValueName().isEmpty()) return;
  try {
    const auto settings = OpenKey();
    settings->setValue(ValueName(), QVariant::fromValue<qint32>(value_));
    settings->sync();
  } catch (...) {
    // Store failures never reach the user; the previous value stays.
  }
}

TRegistryString::TRegistryString(const QString& valueName, const QString& defaultValue)
    : TRegistryVariable(valueName), value_(defaultValue) {
  if (ValueName().isEmpty()) return;
  const auto settings = OpenKey();
  if (settings->status() != QSettings::NoError || !settings->contains(ValueName())) return;
  const QVariant stored = settings->value(ValueName());
  if (stored.typeId() == QMetaType::QString) value_ = stored.toString();
}

TRegistryString::~TRegistryString() {
  Write();
}

void TRegistryString::Write() const noexcept {
  if (ValueName().isEmpty()) return;
  try {
    const auto settings = OpenKey();
    if (value_.isEmpty())
      settings->remove(ValueName());
    else
      settings->setValue(ValueName(), value_);
    settings->sync();
  } catch (...) {
    // As for integers: the previous value stays, unreported.
  }
}

}  // namespace tessaly
