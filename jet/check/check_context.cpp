#include "jet/check/check_context.h"

#include <algorithm>

#include "jet/check/check_read_ahead.h"
#include "jet/check/check_rows.h"

namespace jet {

CheckContext::CheckContext(Database& db, CheckReport& report, std::size_t maxFindingsPerKind)
    : db_(db),
      report_(report),
      claims_(db.pageCount()),
      mapHosts_(claims_.addClaimant("as páginas de mapas de uso")),
      maxPerKind_(maxFindingsPerKind) {}

CheckContext::~CheckContext() {
    rowScanHelper_.reset();  // its thread may be running a comparison set aside here
}

void CheckContext::setReadAhead(CheckReadAhead* readAhead) {
    readAhead_ = readAhead;
    lendToReadAhead();
}

// Between the tables' scans and comparisons, the row helper reads ahead too.
void CheckContext::lendToReadAhead() {
    if (!rowScanHelper_) return;
    if (!readAhead_) {
        rowScanHelper_->setSpareWork(nullptr);
        return;
    }
    rowScanHelper_->setSpareWork([readAhead = readAhead_](PageFile& file) { return readAhead->readOne(file); });
}

RowScanHelper* CheckContext::rowScanHelper() {
    if (!rowScanHelper_ && !rowScanHelperFailed_) {
        try {
            rowScanHelper_ = std::make_unique<RowScanHelper>(file(), layout(), db_.header().codePage);
            lendToReadAhead();
        } catch (const std::exception&) {
            rowScanHelperFailed_ = true;  // no thread to spare: all is done on the caller's
        }
    }
    return rowScanHelper_.get();
}

void CheckContext::add(Finding f) {
    std::size_t& n = perKind_[f.code];
    classOf_[f.code] = f.kind;
    if (++n > maxPerKind_) return;
    report_.findings.push_back(std::move(f));
}

std::size_t CheckContext::findingsOfKind(const std::string& code) const {
    const auto it = perKind_.find(code);
    return it == perKind_.end() ? 0 : it->second;
}

void CheckContext::countBeyondCap(const Finding& like) {
    std::size_t& n = perKind_[like.code];
    classOf_[like.code] = like.kind;
    // Past the cap by construction; kept like any other finding if it were not.
    if (++n <= maxPerKind_) report_.findings.push_back(like);
}

void CheckContext::add(FindingClass c, std::string code, std::string message, std::optional<std::uint32_t> page,
                       std::string table, std::optional<int> row) {
    Finding f;
    f.kind = c;
    f.code = std::move(code);
    f.message = std::move(message);
    f.page = page;
    f.table = std::move(table);
    f.row = row;
    add(std::move(f));
}

bool CheckContext::claim(PageNumber page, std::uint32_t claimant, const std::string& table) {
    switch (claims_.claim(page, claimant)) {
        case PageClaims::Result::Claimed:
        case PageClaims::Result::AlreadyMine: return true;
        case PageClaims::Result::OutOfRange:
            add(FindingClass::Damage, "page_beyond_end",
                "referência à página " + std::to_string(page.value) + ", além do fim do arquivo (" +
                    countedText(claims_.pageCount(), "página", "páginas") + "), por " + claims_.describe(claimant),
                std::nullopt, table);
            return false;
        case PageClaims::Result::ClaimedByOther:
            add(FindingClass::Damage, "page_claimed_twice",
                "a página é usada por " + claims_.describe(*claims_.owner(page)) + " e também por " +
                    claims_.describe(claimant),
                page.value, table);
            return false;
    }
    return false;
}

PageRef CheckContext::page(PageNumber p, const std::string& table) {
    try {
        return file().page(p);
    } catch (const JetError& e) {
        add(FindingClass::Damage, "page_unreadable", "não foi possível ler a página: " + errorCause(e),
            p.value, table);
        return nullptr;
    }
}

void CheckContext::Aside::run(std::size_t cap) {
    try {
        std::map<std::string, std::size_t> met;
        compareIndexEntries(comparison, [&](Finding f) {
            if (++met[f.code] <= cap) kept.push_back(std::move(f));
            else {
                auto& [kind, n] = beyond[f.code];
                kind = f.kind;
                ++n;
            }
        });
    } catch (const std::exception& e) {
        // Out of memory, say. Run here, it would have stopped the table's check;
        // aside, the index is reported and the check goes on.
        kept.push_back(Finding{FindingClass::Damage, "index_unreadable",
                               "o índice não pôde ser verificado (" + errorCause(e) + ")", std::nullopt,
                               std::nullopt, std::nullopt, comparison.table, comparison.indexName, std::nullopt});
    }
    comparison = IndexComparison{};  // the rows and entries are needed no more
}

void CheckContext::compareIndex(IndexComparison comparison, std::size_t asideFrom) {
    if (asideFrom == 0) {
        compareIndexEntries(comparison, [this](Finding f) { add(std::move(f)); });
        return;
    }
    // Not too many wait at once: each holds its index's entries.
    constexpr std::size_t kRunning = 8;
    {
        std::unique_lock lock(asideMutex_);
        asideDone_.wait(lock, [&] { return asideRunning_ < kRunning; });
    }
    placeDoneAside();
    auto owned = std::make_unique<Aside>();
    Aside& a = *owned;
    a.place = report_.findings.size();
    a.comparison = std::move(comparison);
    const bool large = a.comparison.tree.entries.size() >= asideFrom || a.comparison.expected.size() >= asideFrom;
    aside_.push_back(std::move(owned));
    if (large) {
        if (RowScanHelper* helper = rowScanHelper()) {
            {
                std::lock_guard lock(asideMutex_);
                ++asideRunning_;
            }
            const std::size_t cap = maxPerKind_;
            if (helper->post([this, &a, cap] {
                    a.run(cap);
                    {
                        std::lock_guard lock(asideMutex_);
                        a.done = true;
                        --asideRunning_;
                    }
                    asideDone_.notify_all();
                }))
                return;
            std::lock_guard lock(asideMutex_);
            --asideRunning_;
        }
    }
    a.run(maxPerKind_);
    std::lock_guard lock(asideMutex_);
    a.done = true;
}

// The comparisons done, from the first one on up to one not done: in the order
// they were asked for, as if each had run then, the caps of their kinds (found
// nowhere else) count them, and what is kept waits for its place.
void CheckContext::placeDoneAside() {
    for (;;) {
        {
            std::lock_guard lock(asideMutex_);
            if (aside_.empty() || !aside_.front()->done) return;
        }
        const std::unique_ptr<Aside> a = std::move(aside_.front());
        aside_.pop_front();
        std::vector<Finding> kept;
        for (Finding& f : a->kept) {
            std::size_t& n = perKind_[f.code];
            classOf_[f.code] = f.kind;
            if (++n <= maxPerKind_) kept.push_back(std::move(f));
        }
        for (const auto& [code, more] : a->beyond) {
            perKind_[code] += more.second;
            classOf_[code] = more.first;
        }
        if (!kept.empty()) placed_.emplace_back(a->place, std::move(kept));
    }
}

void CheckContext::putAsideInPlace() {
    {
        std::unique_lock lock(asideMutex_);
        asideDone_.wait(lock, [&] { return asideRunning_ == 0; });
    }
    placeDoneAside();
    if (placed_.empty()) return;
    std::vector<Finding> merged;
    merged.reserve(report_.findings.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i <= report_.findings.size(); ++i) {
        for (; next < placed_.size() && placed_[next].first == i; ++next)
            for (Finding& f : placed_[next].second) merged.push_back(std::move(f));
        if (i < report_.findings.size()) merged.push_back(std::move(report_.findings[i]));
    }
    report_.findings = std::move(merged);
    placed_.clear();
}

void CheckContext::finish() {
    putAsideInPlace();
    for (const auto& [code, n] : perKind_) {
        if (n <= maxPerKind_) continue;
        Finding f;
        f.kind = classOf_[code];
        f.code = code;
        f.occurrences = n - maxPerKind_;
        f.message = f.occurrences == 1 ? "mais 1 ocorrência deste problema não foi listada"
                                       : "mais " + std::to_string(f.occurrences) +
                                             " ocorrências deste problema não foram listadas";
        report_.findings.push_back(std::move(f));
    }
}

}  // namespace jet
