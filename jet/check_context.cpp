#include "jet/check_context.h"

#include "jet/check_rows.h"

namespace jet {

CheckContext::CheckContext(Database& db, CheckReport& report, std::size_t maxFindingsPerKind)
    : db_(db),
      report_(report),
      claims_(db.pageCount()),
      mapHosts_(claims_.addClaimant("as páginas de mapas de uso")),
      maxPerKind_(maxFindingsPerKind) {}

CheckContext::~CheckContext() = default;

RowScanHelper* CheckContext::rowScanHelper() {
    if (!rowScanHelper_ && !rowScanHelperFailed_) {
        try {
            rowScanHelper_ = std::make_unique<RowScanHelper>(file(), layout(), db_.header().codePage);
        } catch (const std::exception&) {
            rowScanHelperFailed_ = true;  // no thread to spare: rows are checked on the caller's
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
                    std::to_string(claims_.pageCount()) + " páginas), por " + claims_.describe(claimant),
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
        add(FindingClass::Damage, "page_unreadable", "não foi possível ler a página: " + std::string(e.what()),
            p.value, table);
        return nullptr;
    }
}

void CheckContext::finish() {
    for (const auto& [code, n] : perKind_) {
        if (n <= maxPerKind_) continue;
        Finding f;
        f.kind = classOf_[code];
        f.code = code;
        f.message = "mais " + std::to_string(n - maxPerKind_) + " ocorrências deste problema (" + code +
                    ") não foram listadas";
        report_.findings.push_back(std::move(f));
    }
}

}  // namespace jet
