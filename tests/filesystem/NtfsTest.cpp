#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "app/Log.h"
#include "filesystem/FileSystem_NTFS.h"
#include "filesystem/Lznt1.h"
#include "filesystem/MftRecord.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

using namespace vm;

namespace {

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}
void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}

// A volume held in memory, with the record and cluster sizes a test chooses.
class MemoryOwner : public IMftOwner {
public:
    MemoryOwner(std::uint32_t recordSize, std::uint32_t clusterSize, std::size_t clusters)
        : Record(recordSize), Cluster(clusterSize), Bytes(clusterSize * clusters, 0) {}
    std::uint32_t GetRecordSize() const override { return Record; }
    std::uint32_t GetBytesPerCluster() const override { return Cluster; }
    std::uint32_t ReadVolumeSectors(void* buffer, std::uint64_t first, std::uint32_t count) const override {
        ++Reads;
        const std::uint64_t at = first * 512, n = std::uint64_t(count) * 512;
        if (at + n > Bytes.size()) return 0;
        std::memcpy(buffer, Bytes.data() + at, n);
        return std::uint32_t(n);
    }
    std::uint32_t ReadMftRecord(std::uint32_t n, std::uint8_t* buffer) const override {
        auto it = Records.find(n);
        if (it == Records.end()) return 0;
        std::memcpy(buffer, it->second.data(), Record);
        return Record;
    }
    std::uint8_t* ClusterAt(std::uint64_t lcn) { return Bytes.data() + lcn * Cluster; }

    std::uint32_t Record, Cluster;
    std::vector<std::uint8_t> Bytes;
    std::map<std::uint32_t, std::vector<std::uint8_t>> Records;
    mutable std::atomic<int> Reads{0};
};

// Builds MFT records attribute by attribute.
class RecordBuilder {
public:
    explicit RecordBuilder(std::uint32_t size = 1024, std::uint32_t number = 0, std::uint16_t flags = 1)
        : B(size, 0) {
        std::memcpy(B.data(), "FILE", 4);
        Put16(B, 4, 0x30);
        Put16(B, 6, std::uint16_t(size / 512 + 1));
        Put16(B, 0x10, 1);
        Put16(B, 0x14, 0x38);
        Put16(B, 0x16, flags);
        Put32(B, 0x1C, size);
        Put32(B, 0x2C, number);
        At = 0x38;
        End();
    }
    RecordBuilder& Resident(std::uint32_t type, const std::vector<std::uint8_t>& value, std::uint8_t nameLength = 0) {
        const std::uint32_t length = std::uint32_t((0x18 + nameLength * 2 + value.size() + 7) & ~7u);
        Put32(B, At, type);
        Put32(B, At + 4, length);
        B[At + 9] = nameLength;
        Put16(B, At + 0x0A, 0x18);
        Put32(B, At + 0x10, std::uint32_t(value.size()));
        Put16(B, At + 0x14, std::uint16_t(0x18 + nameLength * 2));
        std::copy(value.begin(), value.end(), B.begin() + At + 0x18 + nameLength * 2);
        At += length;
        End();
        return *this;
    }
    RecordBuilder& NonResident(std::uint32_t type, const std::vector<std::uint8_t>& runs, std::uint64_t size,
                               std::uint64_t startVcn = 0, std::uint8_t nameLength = 0, std::uint16_t flags = 0,
                               std::uint8_t unit = 0) {
        const std::uint32_t runsAt = 0x40 + nameLength * 2;
        const std::uint32_t length = std::uint32_t((runsAt + runs.size() + 7) & ~7u);
        Put32(B, At, type);
        Put32(B, At + 4, length);
        B[At + 8] = 1;
        B[At + 9] = nameLength;
        Put16(B, At + 0x0A, 0x40);
        Put16(B, At + 0x0C, flags);
        Put64(B, At + 0x10, startVcn);
        Put16(B, At + 0x20, std::uint16_t(runsAt));
        B[At + 0x22] = unit;
        Put64(B, At + 0x28, size);
        Put64(B, At + 0x30, size);
        Put64(B, At + 0x38, size);
        std::copy(runs.begin(), runs.end(), B.begin() + At + runsAt);
        At += length;
        End();
        return *this;
    }
    RecordBuilder& FileName(const std::string& ascii, std::uint32_t parent, std::uint8_t space = 1,
                            std::uint64_t size = 0, std::uint16_t parentSeq = 0) {
        std::vector<std::uint8_t> v(0x42 + ascii.size() * 2, 0);
        Put64(v, 0, parent | (std::uint64_t(parentSeq) << 48));
        Put64(v, 0x30, size);
        v[0x40] = std::uint8_t(ascii.size());
        v[0x41] = space;
        for (std::size_t i = 0; i < ascii.size(); ++i) v[0x42 + 2 * i] = std::uint8_t(ascii[i]);
        return Resident(AT_FILE_NAME, v);
    }
    // The record as built: update sequence number 0, which the ends of its sectors match while
    // nothing is written there.
    std::vector<std::uint8_t>& Bytes() { return B; }
    // The record as the drive holds one whose sector ends carry data: those bytes moved into the
    // update-sequence array, the ends set to the update sequence number.
    std::vector<std::uint8_t> Sealed(std::uint16_t usn = 0x0101) const {
        std::vector<std::uint8_t> out = B;
        Put16(out, 0x30, usn);
        for (std::size_t s = 1; s * 512 <= out.size(); ++s) {
            std::copy_n(out.begin() + std::ptrdiff_t(s * 512 - 2), 2, out.begin() + std::ptrdiff_t(0x30 + 2 * s));
            Put16(out, s * 512 - 2, usn);
        }
        return out;
    }
    std::uint32_t Cursor() const { return At; }

private:
    void End() { Put32(B, At, AT_END); }
    std::vector<std::uint8_t> B;
    std::uint32_t At;
};

// The analyser with its filings recorded, so a test can see each item as handed over.
class RecordingNtfs : public CFileSystem_NTFS {
public:
    using CFileSystem_NTFS::CFileSystem_NTFS;
    struct Filed {
        FoundItem Item;
        std::string Name;
    };
    std::vector<Filed> Items;
    std::function<void(const FoundItem&)> OnFile;

protected:
    void FileItem(const FoundItem& rec) override {
        {
            std::lock_guard<std::mutex> g(Lock);
            Items.push_back({rec, rec.NameOrEmpty()});
            Items.back().Item.Name = nullptr;  // the analyser's buffer: valid only during the call
        }
        CFileSystem_NTFS::FileItem(rec);
        if (OnFile) OnFile(rec);
    }

private:
    std::mutex Lock;
};

// An image opened and prepared for analysis as the driver does it.
struct Analysis {
    std::unique_ptr<CVolume> Volume;
    RecordingNtfs* Fs = nullptr;
};

Analysis OpenImage(const std::string& path) {
    Analysis a;
    a.Volume = std::make_unique<CVolume>(VK_IMAGE);
    a.Volume->DevicePath = path;
    a.Volume->ParseBootSector();
    auto fs = std::make_unique<RecordingNtfs>(a.Volume.get());
    fs->CopyTypeFrom(*a.Volume->pFileSystem);
    a.Fs = fs.get();
    a.Volume->pFileSystem = std::move(fs);
    a.Volume->FoundTree.RootId = 5;
    a.Fs->RootFolder.Id = 5;
    a.Fs->RootFolder.ParentId = a.Volume->RootItem.Id;
    a.Volume->FoundTree.Insert(&a.Fs->RootFolder, false);
    return a;
}

}  // namespace

// ---- run lists, fix-ups, LZNT1 -------------------------------------------------------------

TEST(NtfsRunList, DecodesStepsSparseRunsAndDamage) {
    struct Run {
        std::int64_t lcn;
        std::uint64_t length, startVcn;
        std::uint32_t sparse;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::uint64_t startVcn;
        RunListEnd end;
        std::vector<Run> runs;
    } cases[] = {
        {"one run", {0x21, 0x10, 0x00, 0x01, 0x00}, 0, RL_COMPLETE, {{0x100, 16, 0, 0}}},
        {"negative step of 16", {0x11, 0x08, 0x40, 0x11, 0x04, 0xF0, 0x00}, 0, RL_COMPLETE,
         {{0x40, 8, 0, 0}, {0x30, 4, 8, 0}}},
        {"two-byte negative step", {0x21, 0x02, 0x00, 0x10, 0x21, 0x01, 0x00, 0xFF, 0x00}, 0, RL_COMPLETE,
         {{0x1000, 2, 0, 0}, {0x0F00, 1, 2, 0}}},
        {"sparse run keeps the previous cluster", {0x11, 0x08, 0x40, 0x01, 0x10, 0x11, 0x04, 0x10, 0x00}, 0,
         RL_COMPLETE, {{0x40, 8, 0, 0}, {0x40, 16, 8, 1}, {0x50, 4, 24, 0}}},
        {"extent starting at VCN 100", {0x11, 0x05, 0x20, 0x00}, 100, RL_COMPLETE, {{0x20, 5, 100, 0}}},
        {"offset bytes missing", {0x21, 0x10, 0x00}, 0, RL_TRUNCATED, {}},
        {"second run cut off", {0x11, 0x08, 0x40, 0x31, 0x01}, 0, RL_TRUNCATED, {{0x40, 8, 0, 0}}},
        {"no end mark", {0x11, 0x08, 0x40}, 0, RL_TRUNCATED, {{0x40, 8, 0, 0}}},
        {"step below cluster 0", {0x11, 0x08, 0xF0, 0x00}, 0, RL_INVALID, {}},
        {"zero length", {0x11, 0x00, 0x40, 0x00}, 0, RL_INVALID, {}},
        {"nine length bytes", {0x19, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0}, 0, RL_INVALID, {}},
        {"length past any volume", {0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00}, 0, RL_INVALID,
         {}},
    };
    for (const Case& c : cases) {
        std::vector<DataRun> runs;
        EXPECT_EQ(DecodeRunList(c.bytes.data(), c.bytes.size(), c.startVcn, runs), c.end) << c.what;
        ASSERT_EQ(runs.size(), c.runs.size()) << c.what;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].Lcn, c.runs[i].lcn) << c.what << " run " << i;
            EXPECT_EQ(runs[i].Length, c.runs[i].length) << c.what << " run " << i;
            EXPECT_EQ(runs[i].StartVcn, c.runs[i].startVcn) << c.what << " run " << i;
            EXPECT_EQ(runs[i].EndVcn, c.runs[i].startVcn + c.runs[i].length - 1) << c.what << " run " << i;
            EXPECT_EQ(runs[i].Sparse, c.runs[i].sparse) << c.what << " run " << i;
        }
    }
}

TEST(NtfsFixups, MendEverySectorTheArrayCovers) {
    struct Case {
        std::uint32_t size;
        std::uint16_t entries;  // update sequence number plus one entry per stride
        int mended;
    } cases[] = {
        {1024, 3, 2},
        {4096, 9, 8},   // a 4096-byte record: eight strides, whatever the cluster size
        {4096, 3, 2},   // the array reaches only two strides
        {1024, 9, 2},   // more entries than strides
        {1024, 1, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> r(c.size, 0xAA);
        Put16(r, 4, 0x30);
        Put16(r, 6, c.entries);
        Put16(r, 0x30, 0x0707);
        for (std::uint32_t i = 1; i < c.entries; ++i) Put16(r, 0x30 + 2 * i, std::uint16_t(0x1100 + i));
        for (std::uint32_t s = 1; s <= c.size / 512; ++s) Put16(r, s * 512 - 2, 0x0707);
        EXPECT_EQ(ApplyFixups(r.data(), c.size), c.mended) << c.size << "/" << c.entries;
        for (std::uint32_t s = 1; s <= c.size / 512; ++s) {
            const std::uint16_t want = int(s) <= c.mended ? std::uint16_t(0x1100 + s) : 0x0707;
            EXPECT_EQ(r[s * 512 - 2] | (r[s * 512 - 1] << 8), want) << c.size << "/" << c.entries << " stride " << s;
        }
    }
    std::vector<std::uint8_t> outside(1024, 0);
    Put16(outside, 4, 1020);
    Put16(outside, 6, 3);
    EXPECT_EQ(ApplyFixups(outside.data(), 1024), -1);
}

TEST(Lznt1, DecodesLiteralsBackReferencesAndStoredChunks) {
    // "abc" then a back reference of 3 bytes back, 9 long: "abcabcabcabc".
    std::vector<std::uint8_t> in = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20};
    // A stored chunk of 4096 bytes follows.
    in.push_back(0xFF);
    in.push_back(0x3F);
    for (int i = 0; i < 4096; ++i) in.push_back(std::uint8_t(i * 7));
    in.push_back(0);
    in.push_back(0);
    std::vector<std::uint8_t> out(16384, 0xEE);
    ASSERT_EQ(Lznt1Decompress(in.data(), in.size(), out.data(), out.size()), 8192u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 12), "abcabcabcabc");
    EXPECT_EQ(out[12], 0);  // the short chunk stands for 4096 bytes
    EXPECT_EQ(out[4095], 0);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(out[4096 + i], std::uint8_t(i * 7));
}

TEST(Lznt1, HostileChunksStopTheDecoderInsideItsBuffers) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> in;
        std::size_t produced;
    } cases[] = {
        {"reference before the start", {0x03, 0xB0, 0x01, 0x06, 0x20}, 0},
        {"reference farther back than the output", {0x04, 0xB0, 0x02, 'a', 0x06, 0x20}, 0},
        {"chunk longer than the input", {0xFF, 0xBF, 0x00, 'a'}, 0},
        {"token cut off", {0x02, 0xB0, 0x02, 'a', 0x06}, 0},
        {"empty", {}, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> out(8192, 0);
        EXPECT_EQ(Lznt1Decompress(c.in.data(), c.in.size(), out.data(), out.size()), c.produced) << c.what;
    }
    // Output smaller than a chunk: nothing is written past it.
    std::vector<std::uint8_t> in = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20};
    std::vector<std::uint8_t> out(5 + 16, 0xEE);
    EXPECT_EQ(Lznt1Decompress(in.data(), in.size(), out.data(), 5), 5u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 5), "abcab");
    EXPECT_EQ(out[5], 0xEE);
}

// ---- the record reader ---------------------------------------------------------------------

TEST(MftRecord, NamesSizeAndParentFromItsAttributes) {
    MemoryOwner owner(1024, 4096, 4);
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::uint8_t>> names;  // name, namespace
        std::string want;
    } cases[] = {
        {"DOS then Win32", {{"LONGNA~1.TXT", 2}, {"long name.txt", 1}}, "long name.txt"},
        {"POSIX then DOS", {{"posix", 0}, {"POSIX~1", 2}}, "posix"},
        {"empty name skipped", {{"", 1}, {"second", 3}}, "second"},
    };
    for (const Case& c : cases) {
        RecordBuilder b(1024, 70);
        b.Resident(AT_STANDARD_INFORMATION, std::vector<std::uint8_t>(72, 0x11));
        for (const auto& [name, space] : c.names) b.FileName(name, 66, space, 999, 3);
        b.Resident(AT_DATA, std::vector<std::uint8_t>(300, 'x'));  // over the first sector's end
        CMftRecord r(&owner, b.Sealed().data());
        FoundItem item;
        ASSERT_TRUE(r.FillItem(item)) << c.what;
        EXPECT_STREQ(item.Name, c.want.c_str()) << c.what;
        EXPECT_EQ(item.ParentId, 66u);
        EXPECT_EQ(r.ParentSequence, 3);
        EXPECT_EQ(item.Size, 300u) << "the data's size, not the name's stale one";
        EXPECT_EQ(item.CreateTime, 0x1111111111111111ull);
    }
}

TEST(MftRecord, ResidentAndRunDataReadsAsStored) {
    MemoryOwner owner(1024, 4096, 64);
    for (std::uint64_t lcn = 0; lcn < 64; ++lcn) std::memset(owner.ClusterAt(lcn), int(lcn), 4096);
    // Resident: 300 bytes read at 200 with length 512 give 100.
    {
        std::vector<std::uint8_t> value(300);
        for (int i = 0; i < 300; ++i) value[i] = std::uint8_t(i);
        RecordBuilder b;
        b.Resident(AT_DATA, value);
        CMftRecord r(&owner, b.Bytes().data());
        std::vector<std::uint8_t> out(512);
        ASSERT_EQ(r.ReadData(200, 512, out.data()), 100u);
        EXPECT_EQ(out[0], 200);
    }
    // Runs: clusters 10-11, a sparse hole of 2, then cluster 5 (a negative step).
    RecordBuilder b;
    b.NonResident(AT_DATA, {0x11, 0x02, 0x0A, 0x01, 0x02, 0x11, 0x01, 0xFB, 0x00}, 5 * 4096);
    CMftRecord r(&owner, b.Bytes().data());
    ASSERT_EQ(r.Runs.size(), 3u);
    std::vector<std::uint8_t> out(5 * 4096, 0xEE);
    ASSERT_EQ(r.ReadData(0, std::uint32_t(out.size()), out.data()), out.size());
    const int want[] = {10, 11, 0, 0, 5};
    for (int c = 0; c < 5; ++c) {
        EXPECT_EQ(out[c * 4096], want[c]) << "cluster " << c;
        EXPECT_EQ(out[c * 4096 + 4095], want[c]) << "cluster " << c;
    }
    // 100 bytes into the first cluster with length 5000: 3996 from it, 1004 from the next.
    ASSERT_EQ(r.ReadData(100, 5000, out.data()), 5000u);
    EXPECT_EQ(out[3995], 10);
    EXPECT_EQ(out[3996], 11);
    // Past the data's end nothing is read.
    EXPECT_EQ(r.ReadData(5 * 4096, 512, out.data()), 0u);
    EXPECT_EQ(r.VcnToLcn(4), 5);
    EXPECT_EQ(r.VcnToLcn(5), -1);
}

TEST(MftRecord, NamedStreamsStayOutOfTheFileData) {
    MemoryOwner owner(1024, 4096, 16);
    RecordBuilder b;
    b.NonResident(AT_DATA, {0x11, 0x01, 0x09, 0x00}, 4096, 0, 3);  // a named stream first
    b.NonResident(AT_DATA, {0x11, 0x01, 0x02, 0x00}, 100);
    CMftRecord r(&owner, b.Bytes().data());
    ASSERT_EQ(r.Runs.size(), 1u);
    EXPECT_EQ(r.Runs[0].Lcn, 2);
    EXPECT_EQ(r.DataSize, 100u);
    FoundItem item;
    r.FillItem(item);
    EXPECT_EQ(r.DataStreams, 2u);
}

TEST(MftRecord, AttributeListMergesExtentsOnceAndIgnoresSelfReference) {
    MemoryOwner owner(1024, 4096, 64);
    for (std::uint64_t lcn = 0; lcn < 64; ++lcn) std::memset(owner.ClusterAt(lcn), int(lcn), 4096);
    auto entry = [](std::uint32_t type, std::uint64_t record, std::uint64_t vcn, std::uint8_t nameLength = 0) {
        std::vector<std::uint8_t> e(0x20, 0);
        Put32(e, 0, type);
        Put16(e, 4, 0x20);
        e[6] = nameLength;
        Put64(e, 8, vcn);
        Put64(e, 16, record);
        return e;
    };
    std::vector<std::uint8_t> list;
    for (auto e : {entry(AT_DATA, 40, 0), entry(AT_DATA, 40, 0), entry(AT_DATA, 41, 2), entry(AT_DATA, 41, 2),
                   entry(AT_DATA, 42, 0, 2), entry(AT_DATA, 43, 3)})
        list.insert(list.end(), e.begin(), e.end());
    RecordBuilder base(1024, 40);
    base.Resident(AT_ATTRIBUTE_LIST, list);
    base.NonResident(AT_DATA, {0x11, 0x02, 0x0A, 0x00}, 4 * 4096);
    RecordBuilder ext(1024, 41);
    Put64(ext.Bytes(), 0x20, 40);
    ext.NonResident(AT_DATA, {0x11, 0x01, 0x14, 0x00}, 0, 2);
    RecordBuilder named(1024, 42);
    Put64(named.Bytes(), 0x20, 40);
    named.NonResident(AT_DATA, {0x11, 0x01, 0x1E, 0x00}, 0, 3, 2);
    RecordBuilder stranger(1024, 43);  // names another base record: not merged
    Put64(stranger.Bytes(), 0x20, 7);
    stranger.NonResident(AT_DATA, {0x11, 0x01, 0x28, 0x00}, 0, 3);
    owner.Records[40] = base.Bytes();
    owner.Records[41] = ext.Bytes();
    owner.Records[42] = named.Bytes();
    owner.Records[43] = stranger.Bytes();
    CMftRecord r(&owner, base.Bytes().data());
    r.LoadAttributeList();
    ASSERT_EQ(r.Runs.size(), 2u);
    EXPECT_EQ(r.Runs[1].StartVcn, 2u);
    EXPECT_EQ(r.Runs[1].Lcn, 0x14);
    std::vector<std::uint8_t> out(4 * 4096);
    EXPECT_EQ(r.ReadData(0, std::uint32_t(out.size()), out.data()), 3u * 4096);
    EXPECT_EQ(out[2 * 4096], 0x14);
}

TEST(MftRecord, HostileRecordsAreReadWithinTheirBounds) {
    MemoryOwner owner(1024, 4096, 8);
    struct Case {
        const char* what;
        std::function<void(RecordBuilder&)> damage;
    } cases[] = {
        {"attribute length past the record",
         [](RecordBuilder& b) {
             b.Resident(AT_STANDARD_INFORMATION, std::vector<std::uint8_t>(72, 1));
             Put32(b.Bytes(), 0x38 + 4, 0x7FFFFFF0);
         }},
        {"attribute length zero", [](RecordBuilder& b) { Put32(b.Bytes(), 0x38, AT_DATA); }},
        {"resident value past its attribute",
         [](RecordBuilder& b) {
             b.FileName("name", 5);
             Put32(b.Bytes(), 0x38 + 0x10, 5000);
         }},
        {"name longer than its value",
         [](RecordBuilder& b) {
             b.FileName("name", 5);
             b.Bytes()[0x38 + 0x18 + 0x40] = 200;
         }},
        {"run list past its attribute",
         [](RecordBuilder& b) {
             b.NonResident(AT_DATA, {0x11, 0x01, 0x01, 0x00}, 4096);
             Put16(b.Bytes(), 0x38 + 0x20, 0x1F0);
         }},
        {"run list without end inside the record",
         [](RecordBuilder& b) {
             b.NonResident(AT_DATA, {0x11, 0x01, 0x01}, 4096);
             std::fill(b.Bytes().begin() + b.Cursor() - 8, b.Bytes().end(), 0x11);
         }},
        {"first attribute offset past the record", [](RecordBuilder& b) { Put16(b.Bytes(), 0x14, 0xFFF0); }},
        {"data size of petabytes", [](RecordBuilder& b) { b.NonResident(AT_DATA, {0x11, 0x01, 0x01, 0x00}, 1ull << 52); }},
    };
    for (const Case& c : cases) {
        RecordBuilder b;
        c.damage(b);
        CMftRecord r(&owner, b.Bytes().data());
        FoundItem item;
        EXPECT_TRUE(r.FillItem(item)) << c.what;
        r.LoadAttributeList();
        std::vector<std::uint8_t> out(8192);
        EXPECT_LE(r.ReadData(0, 8192, out.data()), 8192u) << c.what;
    }
}

// ---- the analyser on crafted volumes -------------------------------------------------------

namespace {

// A small NTFS volume written by hand: 4096-byte clusters, 1024-byte records, the MFT at
// cluster 4. Records are placed with Put(); the $MFT record's size field is the test's to set.
class CraftedVolume {
public:
    explicit CraftedVolume(std::uint64_t clusters = 64) : Image(clusters * 4096, 0) {
        std::memcpy(Image.data() + 3, "NTFS    ", 8);
        Put16(Image, 11, 512);
        Image[13] = 8;
        Put64(Image, 0x28, clusters * 8 - 1);
        Put64(Image, 0x30, 4);
        Put64(Image, 0x38, 2);
        Image[0x40] = 0xF6;
        Image[0x44] = 1;
        Image[510] = 0x55;
        Image[511] = 0xAA;
    }
    void Put(std::uint32_t n, const std::vector<std::uint8_t>& record) {
        std::copy(record.begin(), record.end(), Image.begin() + 4 * 4096 + n * 1024);
    }
    // $MFT: 16 records in clusters 4-7, claiming `size` bytes.
    void PutMft(std::uint64_t size, std::vector<std::uint8_t> runs = {0x11, 0x04, 0x04, 0x00}) {
        RecordBuilder mft(1024, 0);
        mft.FileName("$MFT", 5, 3);
        mft.NonResident(AT_DATA, runs, size);
        Put(0, mft.Bytes());
        RecordBuilder root(1024, 5, 3);
        root.FileName(".", 5, 3);
        Put16(root.Bytes(), 0x10, 5);
        Put(5, root.Bytes());
    }
    std::string Write(const vmtest::TempDir& dir) {
        const std::string path = dir.File("crafted.img");
        vmtest::WriteFile(path, Image);
        return path;
    }
    std::vector<std::uint8_t> Image;
};

std::vector<std::string> Names(const RecordingNtfs& fs) {
    std::vector<std::string> names;
    for (const auto& f : fs.Items) names.push_back(f.Name);
    return names;
}

}  // namespace

TEST(NtfsAnalyser, RecordSizeFromTheSignedBootSectorByte) {
    struct Case {
        std::uint8_t raw;
        std::uint32_t cluster, want;
    } cases[] = {{0xF6, 4096, 1024}, {0xF4, 4096, 4096}, {0xF6, 512, 1024}, {0x02, 4096, 8192},
                 {0x01, 512, 512},   {0x80, 4096, 0},    {0x00, 4096, 0},   {0x7F, 4096, 0}};
    for (const Case& c : cases) EXPECT_EQ(NtfsRecordBytes(c.raw, c.cluster), c.want) << int(c.raw);
}

TEST(NtfsAnalyser, OverstatedMftAndDamagedRecordsEndNothing) {
    vmtest::TempDir dir;
    CraftedVolume v;
    v.PutMft(1ull << 50, {0x11, 0x08, 0x04, 0x00});  // petabytes, in eight clusters
    RecordBuilder damaged(1024, 16);
    damaged.FileName("damaged", 5);
    Put32(damaged.Bytes(), 0x38 + 4, 0xFFFF);
    v.Put(16, damaged.Bytes());
    RecordBuilder loop(1024, 17);
    std::vector<std::uint8_t> self(0x20, 0);
    Put32(self, 0, AT_DATA);
    Put16(self, 4, 0x20);
    Put64(self, 16, 17);  // the list names its own record
    loop.Resident(AT_ATTRIBUTE_LIST, self).FileName("loop.txt", 5).NonResident(AT_DATA, {0x11, 0x01, 0x20, 0x00}, 10);
    v.Put(17, loop.Bytes());
    RecordBuilder after(1024, 99);  // a stored number that is not its place: filed by its place
    after.FileName("after.txt", 5).Resident(AT_DATA, {'o', 'k'});
    v.Put(18, after.Bytes());
    CLog log;
    SetGlobalLog(&log);
    Analysis a = OpenImage(v.Write(dir));
    a.Fs->Analyse();
    SetGlobalLog(nullptr);
    EXPECT_EQ(a.Fs->RecordCount, 32u);
    EXPECT_TRUE(log.Contains("the MFT claims"));
    EXPECT_TRUE(log.Contains("attributes of record 16 run past the record"));
    EXPECT_THAT(Names(*a.Fs), ::testing::IsSupersetOf({"$MFT", "loop.txt", "after.txt"}));
    EXPECT_EQ(a.Volume->Progress().Total, 31);
    const FoundItem* moved = a.Volume->FoundTree.FindById(18);
    ASSERT_TRUE(moved);
    EXPECT_STREQ(moved->Name, "after.txt");
    std::uint8_t out[512];
    EXPECT_EQ(a.Volume->ReadItem(*moved, out, 0, sizeof out), 2u);
}

TEST(NtfsAnalyser, DeletedFileOfAReusedFolderGoesToALostFolder) {
    vmtest::TempDir dir;
    CraftedVolume v;
    v.PutMft(16 * 1024);
    RecordBuilder folder(1024, 8, 3);  // record 8 now holds another folder (sequence 4)
    Put16(folder.Bytes(), 0x10, 4);
    folder.FileName("new folder", 5);
    v.Put(8, folder.Bytes());
    RecordBuilder stale(1024, 9, 0);  // deleted, its parent reference says 8 with sequence 2
    stale.FileName("old.txt", 8, 1, 5, 2);
    v.Put(9, stale.Bytes());
    RecordBuilder current(1024, 10, 0);  // deleted while its folder was record 8, sequence 4
    current.FileName("current.txt", 8, 1, 5, 4);
    v.Put(10, current.Bytes());
    RecordBuilder gone(1024, 11, 2);  // a deleted folder: freeing it raised its sequence to 7
    Put16(gone.Bytes(), 0x10, 7);
    gone.FileName("gone", 5, 1, 0, 5);
    v.Put(11, gone.Bytes());
    RecordBuilder inner(1024, 12, 0);
    inner.FileName("inner.txt", 11, 1, 5, 6);
    v.Put(12, inner.Bytes());
    Analysis a = OpenImage(v.Write(dir));
    a.Fs->Analyse();
    std::map<std::string, FoundItem> byName;
    for (const auto& f : a.Fs->Items) byName[f.Name] = f.Item;
    ASSERT_TRUE(byName.count("old.txt") && byName.count("current.txt"));
    EXPECT_EQ(byName["current.txt"].ParentId, 8u);
    EXPECT_EQ(byName["inner.txt"].ParentId, 11u);
    const FoundItem* found = a.Volume->FoundTree.FindById(std::int32_t(byName["old.txt"].ParentId));
    ASSERT_TRUE(found);
    const FoundItem lost = *found;
    EXPECT_STREQ(lost.Name, "lost_folder_8");
    EXPECT_EQ(byName["old.txt"].ParentId, lost.Id);
    EXPECT_EQ(lost.SignedParentId(), ID_LOST_FOLDERS);
    EXPECT_TRUE(lost.Is(FI_FOLDER) && lost.Is(FI_DELETED));
    EXPECT_NE(lost.Id, 8u);
    EXPECT_EQ(a.Volume->FsFolders, 2);  // the lost folder is not a found folder
}

TEST(NtfsAnalyser, StoppingKeepsWhatWasFiled) {
    vmtest::TempDir dir;
    CraftedVolume v;
    v.PutMft(16 * 1024);
    for (std::uint32_t n = 8; n < 16; ++n) {
        RecordBuilder f(1024, n);
        f.FileName("f" + std::to_string(n), 5);
        v.Put(n, f.Bytes());
    }
    Analysis a = OpenImage(v.Write(dir));
    std::atomic<bool> running{true};
    a.Fs->SetRunCheck([&] { return running.load(); });
    a.Fs->OnFile = [&](const FoundItem& item) {
        if (item.Id == 9) running = false;
    };
    a.Fs->Analyse();
    EXPECT_EQ(a.Fs->Items.back().Item.Id, 9u);
    EXPECT_EQ(a.Volume->Progress().Current, 9);
    EXPECT_EQ(a.Volume->Progress().Total, 15);
}

TEST(NtfsAnalyser, FoundRecordsOutsideTheMftKeepTheirCopy) {
    vmtest::TempDir dir;
    CraftedVolume v;
    v.PutMft(16 * 1024);
    RecordBuilder live(1024, 8);
    live.FileName("live.txt", 5).Resident(AT_DATA, {'n', 'e', 'w'});
    v.Put(8, live.Bytes());
    // An older copy of record 8 lies in cluster 20, outside the MFT.
    RecordBuilder old(1024, 8, 0);
    old.FileName("old.txt", 5).Resident(AT_DATA, {'o', 'l', 'd', '!'});
    std::copy(old.Bytes().begin(), old.Bytes().end(), v.Image.begin() + 20 * 4096);
    Analysis a = OpenImage(v.Write(dir));
    a.Fs->Analyse();
    const std::size_t walked = a.Fs->Items.size();
    FoundItem find;
    find.FileType = kFileTypeMftRecord;
    find.DataOffset = 4 * 4096 + 8 * 1024;  // a find inside the live MFT: already walked
    a.Fs->ExamineFoundRecord(find);
    EXPECT_EQ(a.Fs->Items.size(), walked);
    find.DataOffset = 20 * 4096;
    std::thread workers[2] = {std::thread([&] { a.Fs->ExamineFoundRecord(find); }),
                              std::thread([&] { a.Fs->ExamineFoundRecord(find); })};
    for (auto& t : workers) t.join();
    ASSERT_EQ(a.Fs->Items.size(), walked + 2);
    EXPECT_EQ(a.Fs->Items.back().Name, "old.txt");
    std::intptr_t cursor = -1;
    FoundItem* copy = nullptr;
    while (FoundItem* f = a.Volume->FoundTree.FindById(8, cursor))
        if (f->FileType == kFileTypeMftRecord) copy = f;
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->Is(FI_DELETED));
    EXPECT_EQ(copy->DataOffset, 20u * 4096);
    std::vector<std::uint8_t> out(512);
    EXPECT_EQ(a.Volume->ReadItem(*copy, out.data(), 0, 512), 4u);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "old!");
}

// ---- real volumes against sleuthkit --------------------------------------------------------

namespace {

struct Listed {
    std::string Path;
    std::int64_t Size;  // -1 for folders
    bool Deleted;
    bool operator<(const Listed& o) const { return std::tie(Path, Size, Deleted) < std::tie(o.Path, o.Size, o.Deleted); }
    bool operator==(const Listed& o) const { return Path == o.Path && Size == o.Size && Deleted == o.Deleted; }
};

std::ostream& operator<<(std::ostream& os, const Listed& l) {
    return os << (l.Deleted ? "* " : "") << l.Path << " (" << l.Size << ")";
}

// sleuthkit's metadata files, named streams and nameless orphans are not files of ours.
bool SleuthkitOnly(const std::string& path) {
    if (path.find(':') != std::string::npos) return true;
    std::istringstream parts(path);
    for (std::string part; std::getline(parts, part, '/');)
        if (!part.empty() && part[0] == '$' && part != "$OrphanFiles") return true;
    return path == "$OrphanFiles" || path.rfind("$OrphanFiles/OrphanFile-", 0) == 0;
}

// Records not in use, from `ils -A`: a name that sleuthkit finds in a folder's index but whose
// record is free is a deleted file all the same.
std::set<std::string> FreeRecords(const std::string& image) {
    std::string text;
    vmtest::RunCommand("ils -A '" + image + "'", &text);
    std::set<std::string> free;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.find("|f|") != std::string::npos) free.insert(line.substr(0, line.find('|')));
    return free;
}

// `fls -r -p -l` lines: "r/r * 64-128-2:\tdir/name\t<four times>\tsize\tuid\tgid".
std::map<std::string, std::pair<Listed, std::string>> ParseFls(const std::string& text,
                                                                const std::set<std::string>& free) {
    std::map<std::string, std::pair<Listed, std::string>> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
        if (f.size() < 7) continue;
        const std::string head = f[0];
        const bool folder = head.size() > 2 && head[2] == 'd';
        const std::string inode = head.substr(head.rfind(' ') + 1, head.find('-', head.rfind(' ')) - head.rfind(' ') - 1);
        const bool deleted = head.find(" * ") != std::string::npos || free.count(inode);
        if (SleuthkitOnly(f[1])) continue;
        out[f[1]] = {{f[1], folder ? -1 : std::stoll(f[f.size() - 3]), deleted}, inode};
    }
    return out;
}

// The folder path the drive gives an item, in sleuthkit's form: '/' between folders, and what
// lies in a lost folder under "$OrphanFiles".
std::string SleuthkitPath(const CVolume& volume, const FoundItem& item) {
    std::string folder;
    volume.GetItemPath(item, folder);
    const std::string lost = std::string(BuiltinString(4352)) + "\\";
    if (folder.rfind(lost, 0) == 0) {
        const std::size_t end = folder.find('\\', lost.size());
        folder = "$OrphanFiles\\" + (end == std::string::npos ? "" : folder.substr(end + 1));
    } else if (!folder.empty() && folder[0] == '\\') {
        folder.erase(0, 1);
    }
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return folder + item.NameOrEmpty();
}

// Every item below the file system's root and "Lost folders", as the tree links them.
void CollectTree(const CFoundTree& tree, std::int32_t id, std::set<std::int32_t>& seen, std::vector<FoundItem*>& out) {
    if (!seen.insert(id).second) return;
    std::vector<FoundItem*> children;
    tree.GetChildren(id, children);
    for (FoundItem* child : children) {
        out.push_back(child);
        if (child->Is(FI_FOLDER)) CollectTree(tree, child->SignedId(), seen, out);
    }
}

void CompareWithSleuthkit(const std::string& image) {
    std::string fls;
    ASSERT_EQ(vmtest::RunCommand("fls -r -p -l '" + image + "'", &fls), 0);
    const auto expected = ParseFls(fls, FreeRecords(image));
    Analysis a = OpenImage(image);
    a.Fs->Analyse();
    std::vector<FoundItem*> items;
    std::set<std::int32_t> seen;
    CollectTree(a.Volume->FoundTree, 5, seen, items);
    CollectTree(a.Volume->FoundTree, ID_LOST_FOLDERS, seen, items);
    std::set<Listed> ours, theirs;
    std::map<std::string, const FoundItem*> byPath;
    for (const FoundItem* item : items) {
        if (item->SignedParentId() == ID_LOST_FOLDERS) continue;  // the lost folder itself
        const std::string path = SleuthkitPath(*a.Volume, *item);
        if (SleuthkitOnly(path)) continue;
        ours.insert({path, item->Is(FI_FOLDER) ? -1 : std::int64_t(item->Size), item->Is(FI_DELETED)});
        byPath[path] = item;
    }
    // A file with hard links is one record: it is listed once, under one of its names.
    std::multimap<std::string, std::string> namesOf;
    for (const auto& [path, e] : expected) namesOf.emplace(e.second, path);
    for (const auto& [path, e] : expected) {
        bool otherName = false;
        for (auto [it, end] = namesOf.equal_range(e.second); it != end; ++it)
            otherName |= it->second != path && byPath.count(it->second) && !byPath.count(path);
        if (!otherName) theirs.insert(e.first);
    }
    std::vector<Listed> onlyOurs, onlyTheirs;
    std::set_difference(ours.begin(), ours.end(), theirs.begin(), theirs.end(), std::back_inserter(onlyOurs));
    std::set_difference(theirs.begin(), theirs.end(), ours.begin(), ours.end(), std::back_inserter(onlyTheirs));
    EXPECT_THAT(onlyOurs, ::testing::IsEmpty()) << image << ": listed by us only";
    EXPECT_THAT(onlyTheirs, ::testing::IsEmpty()) << image << ": listed by sleuthkit only";
    EXPECT_GT(ours.size(), 3u);
    // The cluster map is the volume's $Bitmap.
    std::string bitmap;
    ASSERT_EQ(vmtest::RunCommand("icat '" + image + "' 6", &bitmap), 0);
    const CBitArray& map = a.Volume->ClusterMap;
    ASSERT_GE(map.ByteCount(), (a.Volume->TotalClusters + 7) / 8);
    ASSERT_LE(map.ByteCount(), bitmap.size());
    EXPECT_EQ(std::memcmp(map.GetBuffer(), bitmap.data(), map.ByteCount()), 0);
    // Every live file's data reads as icat reads it.
    std::vector<std::uint8_t> chunk(2 << 20);
    for (const auto& [path, e] : expected) {
        if (e.first.Deleted || e.first.Size <= 0 || !byPath.count(path)) continue;
        std::string want;
        ASSERT_EQ(vmtest::RunCommand("icat '" + image + "' " + e.second, &want), 0);
        std::string got;
        const FoundItem& item = *byPath[path];
        for (std::uint64_t at = 0; at < item.Size;) {
            const std::uint32_t n = a.Volume->ReadItem(item, chunk.data(), at, std::uint32_t(chunk.size()));
            if (n == 0) break;
            got.append(reinterpret_cast<const char*>(chunk.data()), std::min<std::uint64_t>(n, item.Size - at));
            at += n;
        }
        EXPECT_TRUE(got == want) << image << ": " << path << " reads " << got.size() << " bytes, icat " << want.size();
    }
}

bool HaveSleuthkit() { return vmtest::RunCommand("fls -V >/dev/null 2>&1") == 0; }

}  // namespace

class NtfsFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(NtfsFixture, ListsAndReadsWhatSleuthkitDoes) {
    if (!vmtest::HaveFixture(GetParam()) || !HaveSleuthkit()) GTEST_SKIP() << "no " << GetParam() << " or sleuthkit";
    CompareWithSleuthkit(vmtest::FixturePath(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsFixture, ::testing::Values("ntfs.img", "ntfs_512.img", "ntfs_4k.img"));

namespace {

// Counts the reads that reach the image.
class CountingReader : public IDeviceReader {
public:
    explicit CountingReader(std::shared_ptr<IDeviceReader> inner) : Inner(std::move(inner)) {}
    ReadResult ReadAt(std::uint64_t pos, void* buffer, std::size_t len) override {
        ++Reads;
        return Inner->ReadAt(pos, buffer, len);
    }
    std::uint64_t SizeBytes() const override { return Inner->SizeBytes(); }
    std::shared_ptr<IDeviceReader> Inner;
    std::atomic<int> Reads{0};
};

}  // namespace

TEST(NtfsAnalyser, WalkReadsTheMftInLargeBlocks) {
    if (!vmtest::HaveFixture("ntfs_512.img")) GTEST_SKIP() << "no ntfs_512.img";
    std::shared_ptr<CountingReader> counter;
    Analysis a = OpenImage(vmtest::FixturePath("ntfs_512.img"));
    a.Volume->Close();
    a.Volume->SetDeviceOpener([&](const std::string& path, int* error) -> std::shared_ptr<IDeviceReader> {
        counter = std::make_shared<CountingReader>(CDeviceFile::Open(path, error));
        return counter;
    });
    a.Fs->Analyse();
    ASSERT_TRUE(counter);
    // 512-byte clusters: a read per cluster would be two per record.
    EXPECT_GT(a.Fs->RecordCount, 64u);
    EXPECT_LT(counter->Reads.load(), int(a.Fs->RecordCount / 4)) << a.Fs->RecordCount << " records";
}

TEST(NtfsAnalyser, MftSpreadOverAnAttributeListIsWalkedToItsEnd) {
    vmtest::TempDir dir;
    CraftedVolume v;
    // $MFT: VCN 0-3 in clusters 4-7 (records 0-15) in its own record, VCN 4-7 in clusters
    // 12-15 (records 16-31) in extension record 15.
    std::vector<std::uint8_t> list(0x40, 0);
    Put32(list, 0, AT_DATA);
    Put16(list, 4, 0x20);
    Put64(list, 16, 0);
    Put32(list, 0x20, AT_DATA);
    Put16(list, 0x24, 0x20);
    Put64(list, 0x28, 4);
    Put64(list, 0x30, 15);
    RecordBuilder mft(1024, 0);
    mft.FileName("$MFT", 5, 3).Resident(AT_ATTRIBUTE_LIST, list).NonResident(AT_DATA, {0x11, 0x04, 0x04, 0x00}, 32 * 1024);
    v.Put(0, mft.Bytes());
    RecordBuilder ext(1024, 15);
    ext.NonResident(AT_DATA, {0x11, 0x04, 0x0C, 0x00}, 0, 4);
    Put64(ext.Bytes(), 0x20, 0);  // base record 0: an extension of $MFT
    v.Put(15, ext.Bytes());
    RecordBuilder far(1024, 20);
    far.FileName("far.txt", 5).Resident(AT_DATA, {'f', 'a', 'r'});
    std::copy(far.Bytes().begin(), far.Bytes().end(), v.Image.begin() + 13 * 4096);
    CLog log;
    SetGlobalLog(&log);
    Analysis a = OpenImage(v.Write(dir));
    a.Fs->Analyse();
    SetGlobalLog(nullptr);
    EXPECT_EQ(a.Fs->RecordCount, 32u);
    EXPECT_THAT(Names(*a.Fs), ::testing::Contains("far.txt"));
    EXPECT_TRUE(log.Contains("Analyzing MFT table"));
}

TEST(NtfsAnalyser, VolumeWithoutMftFilesNothing) {
    vmtest::TempDir dir;
    CraftedVolume v;  // no record at the MFT's cluster
    CLog log;
    SetGlobalLog(&log);
    Analysis a = OpenImage(v.Write(dir));
    a.Fs->Analyse();
    SetGlobalLog(nullptr);
    EXPECT_TRUE(log.Contains("CFileSystem_NTFS: Load MFT failed."));
    EXPECT_FALSE(log.Contains("Analyzing MFT table"));
    EXPECT_TRUE(a.Fs->Items.empty());
}

TEST(NtfsAnalyser, CompressedDataIsUnpackedAndEncryptedDataCopiedAsStored) {
    vmtest::TempDir dir;
    CraftedVolume v;
    v.PutMft(16 * 1024);
    // Unit 0 (clusters 0-15): one stored cluster of LZNT1 data, the rest sparse; unit 1: sixteen
    // stored clusters, read as they are; unit 2: all sparse.
    const std::vector<std::uint8_t> chunk = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20, 0x00, 0x00};
    std::copy(chunk.begin(), chunk.end(), v.Image.begin() + 30 * 4096);
    for (int c = 0; c < 16; ++c) std::fill_n(v.Image.begin() + (40 + c) * 4096, 4096, std::uint8_t('A' + c));
    RecordBuilder compressed(1024, 8);
    compressed.FileName("packed.txt", 5)
        .NonResident(AT_DATA, {0x11, 0x01, 0x1E, 0x01, 0x0F, 0x11, 0x10, 0x0A, 0x01, 0x10, 0x00}, 48 * 4096, 0, 0,
                     0x0001, 4);
    v.Put(8, compressed.Bytes());
    RecordBuilder encrypted(1024, 9);
    encrypted.FileName("secret.bin", 5).NonResident(AT_DATA, {0x11, 0x01, 0x28, 0x00}, 4096, 0, 0, 0x4000);
    v.Put(9, encrypted.Bytes());
    CLog log;
    SetGlobalLog(&log);
    Analysis a = OpenImage(v.Write(dir));
    a.Fs->Analyse();
    const FoundItem* packed = a.Volume->FoundTree.FindById(8);
    const FoundItem* secret = a.Volume->FoundTree.FindById(9);
    ASSERT_TRUE(packed && secret);
    std::vector<std::uint8_t> out(48 * 4096, 0xEE);
    ASSERT_EQ(a.Volume->ReadItem(*packed, out.data(), 0, std::uint32_t(out.size())), out.size());
    EXPECT_EQ(std::string(out.begin(), out.begin() + 12), "abcabcabcabc");
    EXPECT_TRUE(std::all_of(out.begin() + 12, out.begin() + 16 * 4096, [](std::uint8_t b) { return b == 0; }));
    for (int c = 0; c < 16; ++c) EXPECT_EQ(out[(16 + c) * 4096 + 100], 'A' + c) << "stored cluster " << c;
    EXPECT_TRUE(std::all_of(out.begin() + 32 * 4096, out.end(), [](std::uint8_t b) { return b == 0; }));
    ASSERT_EQ(a.Volume->ReadItem(*secret, out.data(), 0, 4096), 4096u);
    SetGlobalLog(nullptr);
    EXPECT_EQ(out[0], 'A');
    EXPECT_TRUE(log.Contains("secret.bin is encrypted"));
}

TEST(NtfsDriver, FileSystemPhaseAnalysesNtfsDrives) {
    if (!vmtest::HaveFixture("ntfs.img")) GTEST_SKIP() << "no ntfs.img";
    CLog log;
    SetGlobalLog(&log);
    CVolume volume(VK_IMAGE);
    volume.DevicePath = vmtest::FixturePath("ntfs.img");
    ASSERT_EQ(volume.ParseBootSector(), 1);
    volume.Progress().Running = 1;
    volume.AnalyseFileSystem();
    volume.Progress().Running = 0;
    SetGlobalLog(nullptr);
    ASSERT_NE(dynamic_cast<CFileSystem_NTFS*>(volume.pFileSystem.get()), nullptr);
    EXPECT_EQ(volume.FoundTree.RootId, 5);
    EXPECT_GT(volume.FsFiles.load(), 30);
    EXPECT_GE(volume.FsFolders.load(), 8);
    EXPECT_TRUE(log.Contains(Format(BuiltinString(136), volume.FsFolders.load(), volume.FsFiles.load())));
    EXPECT_TRUE(log.Contains("Analyzing MFT table"));
    std::vector<FoundItem*> root;
    volume.FoundTree.GetChildren(5, root);
    const auto large = std::find_if(root.begin(), root.end(), [](const FoundItem* f) {
        return std::string(f->NameOrEmpty()) == "large.bin";
    });
    ASSERT_NE(large, root.end());
    EXPECT_EQ((*large)->Size, 300000u);
}

// ---- damaged records and sizes -------------------------------------------------------------

TEST(NtfsFixups, TornRecordIsRefusedUnchanged) {
    // A sector whose last two bytes are not the update sequence number was not written with
    // the rest of its record.
    std::vector<std::uint8_t> r(1024, 0xAA);
    Put16(r, 4, 0x30);
    Put16(r, 6, 3);
    Put16(r, 0x30, 0x0707);
    Put16(r, 0x32, 0x1101);
    Put16(r, 0x34, 0x1102);
    Put16(r, 510, 0x0707);
    Put16(r, 1022, 0x0706);
    const std::vector<std::uint8_t> before = r;
    EXPECT_EQ(ApplyFixups(r.data(), 1024), kFixupsTorn);
    EXPECT_EQ(r, before);
}

TEST(MftRecord, HeldBytesEndWhereTheRunsStopMappingTheVolume) {
    MemoryOwner owner(1024, 4096, 64);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> runs;
        std::uint64_t size;
        std::uint64_t volumeClusters;
        std::uint64_t want;
    } cases[] = {
        {"size within its runs", {0x11, 0x04, 0x0A, 0x00}, 10000, 64, 10000},
        {"size far past its runs", {0x11, 0x04, 0x0A, 0x00}, 1ull << 42, 64, 4 * 4096},
        {"a sparse run maps zeros", {0x11, 0x02, 0x0A, 0x01, 0x30, 0x00}, 1ull << 42, 64, 50 * 4096},
        {"a run that leaves the volume", {0x11, 0x08, 0x3C, 0x00}, 8 * 4096, 64, 4 * 4096},
        {"a run that starts past the volume", {0x11, 0x02, 0x0A, 0x11, 0x02, 0x40, 0x00}, 1ull << 30, 64, 2 * 4096},
        {"volume of unknown size", {0x11, 0x08, 0x3C, 0x00}, 8 * 4096, 0, 8 * 4096},
    };
    for (const Case& c : cases) {
        RecordBuilder b;
        b.NonResident(AT_DATA, c.runs, c.size);
        CMftRecord r(&owner, b.Bytes().data());
        EXPECT_EQ(r.HeldBytes(c.volumeClusters), c.want) << c.what;
    }
    // A gap between two extents: nothing after it is known.
    RecordBuilder gap;
    gap.NonResident(AT_DATA, {0x11, 0x02, 0x0A, 0x00}, 1ull << 30).NonResident(AT_DATA, {0x11, 0x02, 0x14, 0x00}, 0, 5);
    CMftRecord g(&owner, gap.Bytes().data());
    ASSERT_EQ(g.Runs.size(), 2u);
    EXPECT_EQ(g.HeldBytes(64), 2u * 4096);
    RecordBuilder resident;
    resident.Resident(AT_DATA, std::vector<std::uint8_t>(300, 'x'));
    EXPECT_EQ(CMftRecord(&owner, resident.Bytes().data()).HeldBytes(64), 300u);
}

namespace {

// A real volume's items by name, analysed through a reader that counts the reads of `from` ..
// `from + bytes`.
struct CountedImage {
    explicit CountedImage(const std::string& path) : A(OpenImage(path)) {
        A.Fs->Analyse();
        A.Volume->Close();
        A.Volume->SetDeviceOpener([this](const std::string& p, int* error) -> std::shared_ptr<IDeviceReader> {
            Counter = std::make_shared<CountingReader>(CDeviceFile::Open(p, error));
            return Counter;
        });
    }
    // The item filed under that name or, for a file with hard links, under one of `also`.
    const FoundItem* Named(const std::string& name, const std::string& also = "\n") const {
        for (const auto& f : A.Fs->Items)
            if (f.Name == name || f.Name.rfind(also, 0) == 0) return A.Volume->FoundTree.FindById(f.Item.SignedId());
        return nullptr;
    }
    int Reads() const { return Counter ? Counter->Reads.load() : 0; }
    Analysis A;
    std::shared_ptr<CountingReader> Counter;
};

// Byte position in the image of MFT record n.
std::uint64_t RecordPosition(const Analysis& a, std::uint32_t n) {
    const std::uint64_t bpc = a.Volume->BytesPerCluster, at = std::uint64_t(n) * a.Fs->RecordSize;
    return std::uint64_t(a.Fs->pMftReader->VcnToLcn(at / bpc)) * bpc + at % bpc;
}

}  // namespace

// The hex view and recovery read a file piece by piece: its record (and the attribute list with
// its extension records) is loaded once, not once per piece.
TEST(NtfsAnalyser, FileRecordIsLoadedOncePerItem) {
    if (!vmtest::HaveFixture("ntfs.img")) GTEST_SKIP() << "no ntfs.img";
    CountedImage img(vmtest::FixturePath("ntfs.img"));
    const FoundItem* large = img.Named("large.bin");
    const FoundItem* linked = img.Named("target.bin", "link_");  // 20 000 bytes, an attribute list
    for (const FoundItem* item : {large, linked}) {
        ASSERT_NE(item, nullptr);
        std::vector<std::uint8_t> piece(512);
        ASSERT_EQ(img.A.Volume->ReadItem(*item, piece.data(), 0, 512), 512u) << item->Name;
        const int first = img.Reads();
        for (std::uint64_t at = 512; at < 30 * 512; at += 512)
            ASSERT_EQ(img.A.Volume->ReadItem(*item, piece.data(), at, 512), 512u) << item->Name << " at " << at;
        // One read per piece of data, none of the records again.
        EXPECT_EQ(img.Reads() - first, 29) << item->Name;
    }
}

TEST(NtfsAnalyser, TornRecordOfARealVolumeIsLoggedAndSkipped) {
    if (!vmtest::HaveFixture("ntfs.img")) GTEST_SKIP() << "no ntfs.img";
    Analysis clean = OpenImage(vmtest::FixturePath("ntfs.img"));
    clean.Fs->Analyse();
    const auto small = std::find_if(clean.Fs->Items.begin(), clean.Fs->Items.end(),
                                    [](const RecordingNtfs::Filed& f) { return f.Name == "small.txt"; });
    ASSERT_NE(small, clean.Fs->Items.end());
    vmtest::TempDir dir;
    const std::string path = dir.File("torn.img");
    std::vector<std::uint8_t> image = vmtest::ReadFile(vmtest::FixturePath("ntfs.img"));
    image[RecordPosition(clean, small->Item.Id) + 1022] ^= 0xFF;  // the second sector's last bytes
    vmtest::WriteFile(path, image);
    CLog log;
    SetGlobalLog(&log);
    Analysis torn = OpenImage(path);
    torn.Fs->Analyse();
    SetGlobalLog(nullptr);
    EXPECT_TRUE(log.Contains(Format("record %d is torn", small->Item.Id)));
    std::vector<std::string> want = Names(*clean.Fs);
    want.erase(std::find(want.begin(), want.end(), "small.txt"));
    EXPECT_EQ(Names(*torn.Fs), want);
}
