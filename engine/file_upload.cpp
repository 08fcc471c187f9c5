// A data file's transfer to the server, from the launcher's side.
#include "file_upload.h"

#include "protocol/message_checks.h"

#include <QCryptographicHash>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

const char* const kSentFolder = "sent";

} // namespace

bool FileUpload::Open(const std::string& userFolder, const std::string& name,
                      std::uint64_t maxBytes, std::string& error) {
    if (auto problem = wire::CheckDataFileName(name); problem != wire::FileNameProblem::None) {
        error = "'" + name + "' cannot be sent: " + wire::DescribeFileNameProblem(problem);
        return false;
    }
    folder_ = userFolder;
    name_ = name;
    const std::string path = folder_ + name_;
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        error = "there is no data file " + path;
        return false;
    }
    file_ = std::make_unique<QFile>(QString::fromStdString(path));
    if (!file_->open(QIODevice::ReadOnly)) {
        error = "could not open " + path + ": " + file_->errorString().toStdString();
        return false;
    }
    const std::uint64_t size = std::uint64_t(file_->size());
    if (maxBytes > 0 && size > maxBytes) {
        error = path + " is " + std::to_string(size) + " bytes, more than the server takes (" +
                std::to_string(maxBytes) + ")";
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(file_.get()) || !file_->seek(0)) {
        error = "could not read " + path + ": " + file_->errorString().toStdString();
        return false;
    }
    QByteArray digest = hash.result();
    offer_.set_name(name_);
    offer_.set_size(size);
    offer_.set_sha256(digest.constData(), size_t(digest.size()));
    offset_ = 0;
    return true;
}

bool FileUpload::NextChunk(std::size_t maxBytes, pelora::wire::FileChunk& chunk,
                           std::string& error) {
    const std::uint64_t left = offer_.size() - offset_;
    const qint64 want = qint64(std::min<std::uint64_t>(left, maxBytes));
    QByteArray bytes = file_->read(want);
    if (bytes.size() != want) {
        error = "could not read " + folder_ + name_ + " (it changed while it was sent?)";
        return false;
    }
    chunk.set_offset(offset_);
    chunk.set_data(bytes.constData(), size_t(bytes.size()));
    offset_ += std::uint64_t(bytes.size());
    return true;
}

bool FileUpload::MoveToSent(std::string& movedTo, std::string& error) {
    if (file_)
        file_->close();
    const fs::path source = fs::path(folder_) / name_;
    const fs::path sentFolder = fs::path(folder_) / kSentFolder;
    std::error_code ec;
    fs::create_directories(sentFolder, ec);
    if (ec) {
        error = "could not make " + sentFolder.string() + ": " + ec.message();
        return false;
    }
    fs::path target = sentFolder / name_;
    for (int n = 2; fs::exists(target, ec); ++n)
        target = sentFolder / (name_ + "." + std::to_string(n));
    fs::rename(source, target, ec);
    if (ec) {
        error =
            "could not move " + source.string() + " to " + target.string() + ": " + ec.message();
        return false;
    }
    movedTo = target.string();
    return true;
}
