#include "external/sevenzip/sevenzip.h"

#include "external/sevenzip/sevenzip_reader.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "report/output.h"

#include <exception>

namespace halyard {

using namespace sevenzip;

namespace {

// A new archive object whose reference the caller owns.
ComPtr<T7zInArchive> NewInArchive(const GUID& classid, const std::string& library) {
    return MakeComObject<T7zInArchive>(std::make_shared<const T7zArchive>(library, classid));
}

// Loads the library and unpacks as unpack says with the archive object; any error is told on
// one line.
template <class Unpack>
bool UnZipWith(Unpack&& unpack) {
    try {
        const ComPtr<T7zInArchive> archive = NewInArchive(CLSID_CFormat7z, kSevenZipLibrary);
        unpack(*archive.get());
        return true;
    } catch (const std::exception& e) {
        WriteLine(std::string("UnZipFile: ") + e.what());
        return false;
    }
}

} // namespace

I7zInArchivePtr CreateInArchive(const GUID& classid, const std::string& library) {
    return NewInArchive(classid, library);
}

bool UnZipFile(const std::string& fileName, const std::string& extractPath) {
    return UnZipWith([&](T7zInArchive& archive) {
        archive.OpenFile(fileName);
        archive.ExtractTo(extractPath);
    });
}

bool UnZipFile(const std::string& fileName, platform::Folder& folder) {
    return UnZipWith([&](T7zInArchive& archive) {
        archive.OpenFile(fileName);
        archive.extractToFolder(folder);
    });
}

bool UnZipFile(std::unique_ptr<platform::FileReader> archive, platform::Folder& folder) {
    return UnZipWith([&](T7zInArchive& reader) {
        reader.openStream(std::move(archive));
        reader.extractToFolder(folder);
    });
}

} // namespace halyard
