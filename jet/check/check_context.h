#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "jet/check/check_index_entries.h"
#include "jet/check/check_page_claims.h"
#include "jet/check/finding.h"
#include "jet/format/page_number.h"
#include "jet/table/database.h"

namespace jet {

class CheckReadAhead;
class RowScanHelper;

// What the parts of one check share: the open database, the page claims, the
// report being filled, and a cap on findings of one kind (a badly damaged file
// would otherwise produce one finding per page or row).
class CheckContext {
public:
    CheckContext(Database& db, CheckReport& report, std::size_t maxFindingsPerKind);
    ~CheckContext();

    Database& db() { return db_; }
    PageFile& file() { return db_.file(); }
    const FormatLayout& layout() const { return db_.layout(); }
    PageClaims& claims() { return claims_; }
    CheckReport& report() { return report_; }
    // The one claimant of every usage-map host page: many maps share a host page.
    std::uint32_t mapHosts() const { return mapHosts_; }
    // Long values and index trees read ahead of the check, if any.
    CheckReadAhead* readAhead() { return readAhead_; }
    // Set to null before the read-ahead goes: the row helper may be reading for it.
    void setReadAhead(CheckReadAhead* readAhead);
    // The thread that helps check the rows of large tables, started when first
    // asked for; null when none can be started.
    RowScanHelper* rowScanHelper();

    void add(Finding f);
    // One more finding of the kind (code) of `like`, known to be past the cap of
    // its kind: only counted.
    void countBeyondCap(const Finding& like);
    std::size_t maxFindingsPerKind() const { return maxPerKind_; }
    // Findings of the kind `code` so far, those past the cap included.
    std::size_t findingsOfKind(const std::string& code) const;
    // Shorthands: a finding of class `c` and code `code` at a page (and row).
    void add(FindingClass c, std::string code, std::string message, std::optional<std::uint32_t> page = std::nullopt,
             std::string table = {}, std::optional<int> row = std::nullopt);

    // Claims `page` for `claimant`; reports a page used twice or beyond the file end.
    // True when the page now belongs to `claimant`.
    bool claim(PageNumber page, std::uint32_t claimant, const std::string& table);

    // The page's bytes, or nullopt (with a damage finding) when it cannot be read.
    PageRef page(PageNumber p, const std::string& table);

    // Compares an index's entries with its rows: here and now when `asideFrom`
    // is 0, else aside. Aside, comparisons of `asideFrom` entries or more run on
    // the row helper thread while the check goes on, the others here, and the
    // findings of each are kept for the place they would have had here and now.
    // A check asks for all its comparisons the same way, so that the caps of
    // their kinds count them in turn.
    void compareIndex(IndexComparison comparison, std::size_t asideFrom);

    // Waits for the comparisons run aside, then puts their findings in place and
    // adds one summary finding per kind whose findings were cut off.
    void finish();

private:
    // Findings of a comparison run aside, and where in the report they go.
    struct Aside {
        std::size_t place = 0;  // the report's findings before them
        IndexComparison comparison;
        std::vector<Finding> kept;                   // the first of each kind, up to the cap
        std::map<std::string, std::pair<FindingClass, std::size_t>> beyond;  // how many more of each kind
        bool done = false;  // guarded by asideMutex_
        void run(std::size_t cap);
    };
    void placeDoneAside();
    void putAsideInPlace();
    void lendToReadAhead();

    Database& db_;
    CheckReport& report_;
    PageClaims claims_;
    std::uint32_t mapHosts_;
    CheckReadAhead* readAhead_ = nullptr;
    std::unique_ptr<RowScanHelper> rowScanHelper_;
    bool rowScanHelperFailed_ = false;
    std::deque<std::unique_ptr<Aside>> aside_;  // not yet placed, in the order they were asked for
    std::vector<std::pair<std::size_t, std::vector<Finding>>> placed_;  // kept findings and their place
    std::size_t asideRunning_ = 0;              // asked of the helper, not done; guarded by asideMutex_
    std::mutex asideMutex_;
    std::condition_variable asideDone_;
    std::size_t maxPerKind_;
    std::map<std::string, std::size_t> perKind_;
    std::map<std::string, FindingClass> classOf_;
};

}  // namespace jet
