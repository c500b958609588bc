#include "support/memory_files.h"

#include "platform/runtime_error.h"

#include <QBuffer>

platform::OpenedFile MemoryFiles::openForReading(const QString& path)
{
    if (beforeOpen)
        beforeOpen(path);
    const auto file = files.find(path);
    if (file == files.end())
        throw platform::RuntimeError(platform::error_number::FileNotFound, QStringLiteral("no file \"%1\"").arg(path));
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(file->second);
    buffer->open(QIODevice::ReadOnly);
    return {std::move(buffer), *identify(path), !pipes.contains(path)};
}

platform::OpenedFile MemoryFiles::create(const QString& path, bool)
{
    QByteArray& bytes = files[path];
    bytes.clear();
    auto buffer = std::make_unique<QBuffer>(&bytes);
    buffer->open(QIODevice::WriteOnly);
    return {std::move(buffer), *identify(path)};
}

std::optional<platform::FileIdentity> MemoryFiles::identify(const QString& path)
{
    const auto file = files.find(path);
    if (file == files.end())
        return std::nullopt;
    return platform::FileIdentity{1, static_cast<std::uint64_t>(std::distance(files.begin(), file)) + 1};
}

platform::OpenedFile MemoryFiles::standardInput()
{
    pipes.insert(kStandardInput);
    return openForReading(kStandardInput);
}

platform::OpenedFile MemoryFiles::standardOutput() { return create(kStandardOutput, true); }
