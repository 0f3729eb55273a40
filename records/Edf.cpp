// EDF, EDF+ and BDF files through EDFlib. The ordinary signals are read
// whole at open and the file is closed again: EDFlib refuses to open a file
// twice and keeps a small table of open files, and its open and close are
// not thread-safe, so every EDFlib call runs under one lock.
#include "records/RecordsInternal.h"

#include <edflib.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <new>

namespace hsim::records {

namespace {

std::mutex g_EdfLock;

int MapOpenError(int edfError, const std::string& name)
{
    switch (edfError) {
    case EDFLIB_MALLOC_ERROR: return Fail(HSIM_RECORD_ERROR_MEMORY, name + ": EDFlib ran out of memory");
    case EDFLIB_NO_SUCH_FILE_OR_DIRECTORY: return Fail(HSIM_RECORD_ERROR_OPEN, name + ": no such file or not readable");
    case EDFLIB_FILE_CONTAINS_FORMAT_ERRORS:
        return Fail(HSIM_RECORD_ERROR_HEADER, name + ": not a valid EDF/BDF file (header or size inconsistent)");
    case EDFLIB_MAXFILES_REACHED: return Fail(HSIM_RECORD_ERROR_IO, name + ": EDFlib has too many files open");
    case EDFLIB_FILE_READ_ERROR: return Fail(HSIM_RECORD_ERROR_IO, name + ": read error");
    case EDFLIB_FILE_ALREADY_OPENED: return Fail(HSIM_RECORD_ERROR_IO, name + ": already open in EDFlib");
    case EDFLIB_NUMBER_OF_SIGNALS_INVALID: return Fail(HSIM_RECORD_ERROR_HEADER, name + ": invalid number of signals");
    case EDFLIB_FILE_IS_DISCONTINUOUS:
        return Fail(HSIM_RECORD_ERROR_FORMAT, name + ": discontinuous EDF+D/BDF+D files are not supported");
    case EDFLIB_FILETYPE_ERROR:
    case EDFLIB_ARCH_ERROR: return Fail(HSIM_RECORD_ERROR_FORMAT, name + ": file type not supported by EDFlib");
    default: return Fail(HSIM_RECORD_ERROR_HEADER, name + ": EDFlib error " + std::to_string(edfError));
    }
}

}  // namespace

int OpenEdf(const std::string& path, std::unique_ptr<Record>& out)
{
    const std::string name = BaseName(path);
    auto hdr = std::make_unique<edf_hdr_struct>();
    auto record = std::make_unique<Record>();
    std::lock_guard<std::mutex> lock(g_EdfLock);
    if (edfopen_file_readonly(path.c_str(), hdr.get(), EDFLIB_DO_NOT_READ_ANNOTATIONS) != 0)
        return MapOpenError(hdr->filetype, name);
    struct Closer {
        int handle;
        ~Closer() { edfclose_file(handle); }
    } closer{hdr->handle};

    const double seconds = static_cast<double>(hdr->datarecord_duration) / EDFLIB_TIME_DIMENSION;
    if (!(seconds > 0.0))
        return Fail(HSIM_RECORD_ERROR_HEADER, name + ": data record duration is not positive");
    if (hdr->edfsignals < 0 || hdr->edfsignals > EDFLIB_MAXSIGNALS)
        return Fail(HSIM_RECORD_ERROR_HEADER, name + ": invalid number of signals");
    for (int i = 0; i < hdr->edfsignals; ++i) {
        const edf_param_struct& p = hdr->signalparam[i];
        SignalInfo info;
        info.name = std::string(Trim(p.label));
        info.units = std::string(Trim(p.physdimension));
        info.rate = p.smp_in_datarecord / seconds;
        info.length = p.smp_in_file;
        if (info.length < 0 || p.smp_in_datarecord <= 0)
            return Fail(HSIM_RECORD_ERROR_HEADER, name + ": signal " + std::to_string(i) + " has no samples a record");
        std::vector<double> v;
        try {
            v.resize(static_cast<size_t>(info.length));
        } catch (const std::bad_alloc&) {
            return Fail(HSIM_RECORD_ERROR_MEMORY, name + ": no memory for " + std::to_string(info.length) + " samples");
        }
        int64_t done = 0;
        while (done < info.length) {
            const int n = static_cast<int>(std::min<int64_t>(info.length - done, 1 << 20));
            const int got = edfread_physical_samples(hdr->handle, i, n, v.data() + done);
            if (got <= 0)
                return Fail(got < 0 ? HSIM_RECORD_ERROR_IO : HSIM_RECORD_ERROR_DATA,
                            name + ": signal " + std::to_string(i) + " ends after " + std::to_string(done) +
                                " of " + std::to_string(info.length) + " samples");
            done += got;
        }
        const double scale = MillivoltScale(info.units);
        if (scale != 1.0)
            for (double& x : v)
                x *= scale;
        record->signals.push_back(std::move(info));
        record->values.push_back(std::move(v));
    }
    out = std::move(record);
    return HSIM_RECORD_OK;
}

}  // namespace hsim::records
