#include "signatures/SignatureWizard.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "app/Format.h"
#include "app/Log.h"
#include "signatures/FileTypeCatalogue.h"

namespace vm {
namespace {

// Up to kSampleBytes from the start of the file; false when it cannot be opened or read.
bool ReadHead(const std::string& path, std::vector<std::uint8_t>& head, int& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return false;
    }
    head.assign(kSampleBytes, 0);
    std::size_t got = 0;
    bool ok = true;
    while (got < head.size()) {
        const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            ok = false;
        }
        if (n <= 0) break;
        got += std::size_t(n);
    }
    ::close(fd);
    head.resize(got);
    return ok;
}

std::string ExtensionOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = char(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

}  // namespace

std::vector<SampleFile> ReadSamples(const std::vector<std::string>& paths, std::vector<std::string>& unreadable) {
    std::vector<SampleFile> samples;
    for (const std::string& path : paths) {
        SampleFile sample{path, {}};
        int error = 0;
        if (!ReadHead(path, sample.Head, error) || sample.Head.empty()) {
            Log().Error("Sample file '%s' can't be read (%s); it is left out of the analysis", path,
                        error ? std::strerror(error) : "empty file");
            unreadable.push_back(path);
            continue;
        }
        samples.push_back(std::move(sample));
    }
    return samples;
}

std::string AnalyseSamples(const std::vector<SampleFile>& samples, MaskedVariant& v) {
    std::string log = Format("Begin Analyse %d files.", std::int64_t(samples.size()));
    std::size_t shortest = samples.empty() ? 0 : kSampleBytes;
    for (const SampleFile& a : samples) {
        log += Format("\r\nAnalyse: %s", a.Name);
        shortest = std::min(shortest, a.Head.size());
        // Every sample against the first: a bit is common to all exactly when it is common to
        // each with the first one.
        const SampleFile& b = samples.front();
        const std::size_t n = std::min(a.Head.size(), b.Head.size());
        for (std::size_t p = 0; p < n; ++p) v.Mask[p] &= std::uint8_t(~(a.Head[p] ^ b.Head[p]));
    }
    for (std::size_t p = 0; p < kSampleBytes; ++p) {
        // The search compares whole bytes wherever the mask is not 0, so a byte the samples
        // share only partly cannot be kept; nor can a byte that some sample does not have.
        if (v.Mask[p] != 0xFF || p >= shortest) v.Mask[p] = 0;
        v.Data[p] = p < shortest ? std::uint8_t(samples.front().Head[p] & v.Mask[p]) : 0;
    }
    v.CompareCount = CommonPrefixLength(v);
    log += Format("\r\nEnd Analyse %d files.", std::int64_t(samples.size()));
    return log;
}

std::size_t CommonPrefixLength(const MaskedVariant& v) {
    std::size_t n = 0;
    while (n < kSampleBytes && v.Mask[n] == 0xFF) ++n;
    return n;
}

NewTypeDetails ProposeDetails(const FileTypeCatalogue& catalogue, const std::vector<SampleFile>& samples) {
    NewTypeDetails d;
    d.TypeId = kFirstUserTypeId;
    while (catalogue.FindDescriptor(d.TypeId)) ++d.TypeId;
    if (!catalogue.Groups().empty()) d.GroupId = catalogue.Groups().front()->GroupId;
    if (!samples.empty())
        if (const std::string ext = ExtensionOf(samples.front().Name); !ext.empty()) d.Extensions = ext;
    return d;
}

std::string BuildNewType(const FileTypeCatalogue& catalogue, const NewTypeDetails& d,
                         const std::vector<MaskedVariant>& variants, FileTypeDescriptor& type) {
    if (d.TypeId < kFirstUserTypeId || d.TypeId > 32767)
        return Format("The type identifier must lie between %d and 32767", kFirstUserTypeId);
    if (catalogue.FindDescriptor(d.TypeId)) return Format("The type identifier %d is already used", d.TypeId);
    if (!catalogue.FindGroup(d.GroupId)) return Format("There is no group %d", d.GroupId);
    if (d.Coincidence < 0 || d.Coincidence > 100) return "The coincidence must lie between 0 and 100";
    if (variants.empty()) return "The type has no signature";
    FileTypeDescriptor built;
    built.TypeId = d.TypeId;
    built.GroupId = d.GroupId;
    built.DefaultSizeKB = d.DefaultSizeKB;
    built.SearchOrder = d.SearchOrder;
    built.Coincidence = d.Coincidence;
    built.Extensions = d.Extensions;
    built.NamePrefix = d.NamePrefix;
    built.Title = d.Title;
    built.Description = d.Description;
    built.DescriptionUrl = d.DescriptionUrl;
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const MaskedVariant& v = variants[i];
        if (v.CompareCount == 0 || v.CompareCount > kSampleBytes)
            return Format("Variant %d compares %d bytes: it must compare from 1 to 512", std::int64_t(i),
                          std::int64_t(v.CompareCount));
        std::vector<std::uint8_t> area(v.Data.begin(), v.Data.end());
        area.insert(area.end(), v.Mask.begin(), v.Mask.end());
        built.AddBytes(SC_MASKED, area, 0).Conditions.front().Length = std::uint16_t(v.CompareCount);
    }
    if (const std::size_t size = built.Serialize({}); size > kMaxStoredRecord)
        return Format("The type's record would take %d bytes, more than the %d a stored type may hold; "
                      "remove variants",
                      std::int64_t(size), std::int64_t(kMaxStoredRecord));
    type = std::move(built);
    return {};
}

}  // namespace vm
