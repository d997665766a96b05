#include "jet/check/check_rows.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "jet/check/page_type_name.h"
#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/format/text_codec.h"
#include "jet/table/column_type.h"
#include "jet/table/data_page.h"
#include "jet/table/long_value_reader.h"
#include "jet/table/value_decoder.h"
#include "jet/table/value_rules.h"

namespace jet {

namespace {

std::string pageText(PageNumber p) { return std::to_string(p.value); }

}  // namespace

std::uint64_t keyDigest(std::span<const std::uint8_t> key) {
    // Eight bytes a step (keys are mostly under 16 bytes, and this runs for every
    // row and every index entry); each word is multiplied in, then the whole mixed.
    // The last word overlaps the one before it rather than being read byte by byte.
    constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15u;
    const std::uint8_t* p = key.data();
    const std::size_t n = key.size();
    const auto word = [](const std::uint8_t* at) {
        std::uint64_t w;
        std::memcpy(&w, at, 8);
        return w;
    };
    const auto half = [](const std::uint8_t* at) {
        std::uint32_t w;
        std::memcpy(&w, at, 4);
        return std::uint64_t{w};
    };
    std::uint64_t h = 0xCBF29CE484222325u ^ (n * kMul);
    std::uint64_t last = 0;
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8) h = std::rotl((h ^ word(p + i)) * kMul, 29);
        last = word(p + n - 8);
    } else if (n >= 4) {
        last = half(p) | (half(p + n - 4) << 32);
    } else if (n > 0) {
        last = std::uint64_t{p[0]} | (std::uint64_t{p[n / 2]} << 8) | (std::uint64_t{p[n - 1]} << 16);
    }
    h = (h ^ last) * kMul;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDu;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53u;
    h ^= h >> 33;
    return h;
}

void RowScan::clear() {
    pages.clear();
    steps.clear();
    findings.clear();
    moves.clear();
    rows.clear();
    for (auto& e : expected) e.clear();
    for (auto& g : gaps) g.clear();
    longValueUses.clear();
    perCode.clear();
}

RowScanner::RowScanner(const RowCheckPlan& plan, PageFile& file, ValueDecoder& values)
    : plan_(plan), t_(*plan.table), layout_(*plan.layout), file_(file), values_(values), decoder_(*plan.table, *plan.layout) {}

void RowScanner::scanPage(PageNumber page, RowScan& out) {
    out_ = &out;
    out.expected.resize(plan_.indexes.size());
    out.gaps.resize(plan_.indexes.size());
    RowScan::Page record;
    record.page = page;
    try {
        scanRows(page, record);
    } catch (...) {
        record.error = std::current_exception();
    }
    record.stepsEnd = out.steps.size();
    record.rowsEnd = out.rows.size();
    record.usesEnd = out.longValueUses.size();
    out.pages.push_back(std::move(record));
}

PageRef RowScanner::readPage(PageNumber p) {
    try {
        return file_.page(p);
    } catch (const JetError& e) {
        add(Finding{FindingClass::Damage, "page_unreadable", "não foi possível ler a página: " + errorCause(e),
                    p.value, std::nullopt, std::nullopt, t_.name, {}, std::nullopt});
        return nullptr;
    }
}

void RowScanner::damage(std::string code, std::string message, std::optional<std::uint32_t> page,
                        std::optional<int> row) {
    add(Finding{FindingClass::Damage, std::move(code), std::move(message), page, row, std::nullopt, t_.name, {},
                std::nullopt});
}

void RowScanner::add(Finding f) {
    // Past the cap of a kind only the count matters: a badly damaged table would
    // otherwise keep a finding per row until the pages are taken in.
    auto [it, first] = out_->perCode.try_emplace(f.code, 0, static_cast<std::uint32_t>(out_->findings.size()));
    if (++it->second.first > plan_.maxFindingsPerKind && !first) {
        out_->steps.push_back({RowScan::Step::Kind::Counted, it->second.second, 0});
        return;
    }
    out_->steps.push_back({RowScan::Step::Kind::Finding, static_cast<std::uint32_t>(out_->findings.size()), 0});
    out_->findings.push_back(std::move(f));
}

void RowScanner::claim(PageNumber page, std::uint32_t claimant) {
    out_->steps.push_back({RowScan::Step::Kind::Claim, page.value, claimant});
}

void RowScanner::scanRows(PageNumber pn, RowScan::Page& record) {
    const FormatLayout& layout = layout_;
    PageRef ref = readPage(pn);
    if (!ref) return;
    const std::uint32_t owner = bytes::u32le(ref->span(), layout.dataOwner);
    if (ref->bytes[0] != 0x01 || ref->bytes[1] != 0x01 || owner != t_.tdefPage.value) {
        const auto raw = ref->span();
        std::string what = pageTypeName(ref->bytes[0], owner);
        if (std::all_of(raw.begin(), raw.end(), [](std::uint8_t b) { return b == 0; }))
            what = "página zerada";
        else if (ref->bytes[0] == 0x01 && ref->bytes[1] == 0x01 && owner != kLongValueOwner)
            what += " de outra tabela (definição na página " + std::to_string(owner) + ")";
        else if (ref->bytes[0] == 0x01 && ref->bytes[1] != 0x01)
            what += " com a marca do tipo alterada";
        damage("owned_page_not_data", "a página está no mapa da tabela, mas é uma " + what, pn.value);
        return;
    }
    std::optional<DataPage> page;
    try {
        page.emplace(ref, layout);
    } catch (const JetError& e) {
        damage("data_page_header", "o cabeçalho da página de dados contradiz o formato: " + errorCause(e), pn.value);
        return;
    }
    checkDataPageLayout(*page);
    if (!layout.jet3 && bytes::u32le(ref->span(), 8) != 0)
        damage("data_page_header", "campo reservado não nulo no cabeçalho da página de dados", pn.value);
    for (std::uint16_t r = 0; r < page->rowCount() && r < 256; ++r) {
        const std::uint16_t slot = page->slot(r);
        if (slot & row_flag::Deleted) continue;
        const RowPointer location(pn, static_cast<std::uint8_t>(r));
        std::span<const std::uint8_t> raw;
        try {
            raw = page->row(r);
        } catch (const JetError& e) {
            damage("row_bounds", "a linha não cabe onde a página diz: " + errorCause(e), pn.value, r);
            continue;
        }
        RowPointer dataLocation = location;
        PageRef targetHolder;
        if (slot & row_flag::Overflow) {
            if (raw.size() < 4) {
                damage("overflow_pointer", "ponteiro de estouro com menos de 4 bytes", pn.value, r);
                continue;
            }
            const RowPointer target = RowPointer::fromDescriptor(bytes::u32le(raw, 0));
            const std::string targetText =
                "página " + pageText(target.page) + " linha " + std::to_string(target.row);
            if (!plan_.ownedPages->count(target.page.value)) {
                damage("overflow_target_page", "a linha foi movida para a " + targetText +
                                                   ", que não pertence à tabela",
                       pn.value, r);
                continue;
            }
            targetHolder = readPage(target.page);
            if (!targetHolder) continue;
            try {
                DataPage tp(targetHolder, layout);
                if (tp.owner() != t_.tdefPage.value || target.row >= tp.rowCount()) {
                    damage("overflow_target_missing", "a linha movida não existe na " + targetText, pn.value, r);
                    continue;
                }
                const std::uint16_t ts = tp.slot(target.row);
                if ((ts & row_flag::Deleted) == 0 || (ts & row_flag::Overflow) != 0)
                    damage("overflow_target_flags", "o destino da linha movida (" + targetText +
                                                        ") não está marcado como destino de estouro",
                           pn.value, r);
                // Whether another row moved here too is known once pages are taken in order.
                out_->steps.push_back(
                    {RowScan::Step::Kind::OverflowTarget, static_cast<std::uint32_t>(out_->moves.size()), 0});
                out_->moves.emplace_back(target, location);
                raw = tp.row(target.row);
                dataLocation = target;
            } catch (const JetError& e) {
                damage("overflow_target_unreadable", "o destino da linha movida não pôde ser lido: " + errorCause(e),
                       target.page.value, target.row);
                continue;
            }
        }
        checkRow(location, dataLocation, raw, record);
    }
}

void RowScanner::checkDataPageLayout(const DataPage& page) {
    const FormatLayout& layout = layout_;
    const std::uint32_t pn = page.number().value;
    const std::size_t tableEnd = layout.dataRowTable + 2 * std::size_t{page.rowCount()};
    std::size_t previous = layout.pageSize;
    std::size_t used = 0;
    bool consistent = true;
    for (std::uint16_t r = 0; r < page.rowCount(); ++r) {
        const std::uint16_t slot = page.slot(r);
        const std::size_t off = slot & row_flag::OffsetMask;
        if (slot & row_flag::Unknown2000) damage("row_flag_2000", "indicador desconhecido 0x2000 na linha", pn, r);
        if (off > previous || off < tableEnd) {
            damage("row_offsets", "a posição " + std::to_string(off) + " da linha contradiz as linhas vizinhas", pn, r);
            consistent = false;
            break;
        }
        used += previous - off;
        previous = off;
    }
    if (page.rowCount() > 255) damage("row_count_page", "mais de 255 linhas na página", pn);
    if (consistent) {
        const std::size_t computed = layout.pageSize - tableEnd - used;
        if (computed != page.freeSpace())
            damage("data_page_free_space", "o espaço livre registrado (" + std::to_string(page.freeSpace()) +
                                               ") difere do calculado (" + std::to_string(computed) + ")",
                   pn);
    }
}

void RowScanner::checkRow(RowPointer location, RowPointer dataLocation, std::span<const std::uint8_t> raw,
                          RowScan::Page& record) {
    const std::uint32_t pn = dataLocation.page.value;
    const int r = dataLocation.row;
    ++record.rowsChecked;
    const ErrorLocation at{.page = pn, .row = r, .table = t_.name};
    try {
        decoder_.split(raw, fields_, at);
    } catch (const JetError& e) {
        damage("row_unreadable", "a linha não pôde ser decomposta: " + errorCause(e), pn, r);
        out_->rows.push_back(location);
        for (auto& expected : out_->expected) expected.emplace_back();  // present, key unknown
        return;
    }
    if (const std::optional<RuleBreak> shape = rowShapeBreak(fields_, t_)) damage(shape->code, shape->message, pn, r);

    for (std::size_t i = 0; i < t_.columns.size(); ++i) {
        const Column& c = t_.columns[i];
        const FieldBytes& f = fields_.fields[i];
        if (!f.present || c.isBoolean()) continue;
        checkValue(c, f, dataLocation);
        if (c.isAutonumber() && c.type == column_type::Long && c.isFixed() && f.bytes.size() == 4) {
            const std::int64_t v = bytes::i32le(f.bytes, 0);
            if (!record.maxAutonumber || v > *record.maxAutonumber) record.maxAutonumber = v;
        }
    }

    // Expected index keys of this row.
    out_->rows.push_back(location);
    for (std::size_t k = 0; k < plan_.indexes.size(); ++k) {
        const RowCheckPlan::Index& st = plan_.indexes[k];
        ExpectedEntry& e = out_->expected[k].emplace_back();
        if (!st.encoder) continue;
        const std::size_t n = st.columnPositions.size();
        scratch_.resize(n);
        texts_.assign(n, KeyText{});
        if (textUnits_.size() < n) textUnits_.resize(n);
        bool decoded = true;
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t pos = st.columnPositions[j];
            if (st.textAsUnits[j] && fields_.fields[pos].present) {
                // Its key is built from UTF-16 units: taken from the stored bytes
                // without decoding to UTF-8 and back (a present text is never null).
                decodeJet4TextUnits(fields_.fields[pos].bytes, textUnits_[j]);
                texts_[j] = KeyText{true, textUnits_[j]};
                scratch_[j] = Value{};
                e.addColumn(false);
                continue;
            }
            try {
                scratch_[j] = values_.decode(t_.columns[pos], fields_.fields[pos], at);
            } catch (const JetError&) {
                decoded = false;  // already reported by checkValue
                scratch_[j] = Value{};
            }
            const bool null = isNull(scratch_[j]) && !t_.columns[pos].isBoolean();
            e.addColumn(null);
        }
        if (!decoded || !plan_.verifyIndexKeys) continue;
        keyScratch_.clear();
        if (std::optional<KeyGap> gap = st.encoder->appendKey(scratch_, texts_, keyScratch_)) {
            e.setGap(static_cast<std::uint32_t>(out_->gaps[k].size()));
            out_->gaps[k].push_back(std::move(*gap));
        } else {
            e.setDigest(keyDigest(keyScratch_));
        }
    }
}

void RowScanner::checkValue(const Column& c, const FieldBytes& f, RowPointer at) {
    const std::uint32_t pn = at.page.value;
    const int r = at.row;
    const auto& b = f.bytes;
    if (c.isCalculated()) {
        // Wrapped values, checked by decoding only; but a result kept as a long
        // value is a descriptor like any Memo's, and its chain is walked and claimed.
        if (c.storesLongValue()) checkLongValue(c, b, at);
        return;
    }
    if (c.isLongValue()) {
        checkLongValue(c, b, at);
        return;
    }
    if (const std::optional<RuleBreak> broken = storedValueBreak(c, b, layout_.jet3))
        damage(broken->code, broken->message, pn, r);
}

void RowScanner::checkLongValue(const Column& c, std::span<const std::uint8_t> field, RowPointer at) {
    const std::uint32_t pn = at.page.value;
    const int r = at.row;
    const ErrorLocation where{.page = pn, .row = r, .table = t_.name};
    if (const std::optional<RuleBreak> broken = longValueDescriptorBreak(c, field)) {
        damage(broken->code, broken->message, pn, r);
        if (broken->unreadable) return;
    }
    const LongValueDescriptor d = LongValueDescriptor::parse(field, where);
    using Kind = LongValueDescriptor::Kind;
    if (d.kind == Kind::Inline) return;
    // Walk the value's LVAL rows without copying its bytes: each row must exist on a
    // long-value page, a chain must end (no cycle) and carry at least the length.
    std::vector<RowPointer>& segments = chainScratch_;
    segments.clear();
    chainVisits_.clear();
    {
        const auto what = [&c] { return "valor longo da coluna " + c.name; };
        std::uint64_t carried = 0;
        RowPointer p = d.pointer;
        const bool chain = d.kind == Kind::Chain;
        for (;;) {
            if (p.page.isNull() || p.page.value >= plan_.pageCount) {
                damage("long_value_unreadable", what() + ": ponteiro para a página " + pageText(p.page), pn, r);
                break;
            }
            if (!chainVisits_.firstVisit(p)) {
                damage("long_value_unreadable", what() + ": a cadeia de páginas forma um ciclo", pn, r);
                break;
            }
            // Pages of the columns' maps were read before the rows; others (or pages
            // with many rows, whose rows are not kept) are read here.
            const LongValuePageFacts* facts = plan_.longValuePages->find(p.page);
            std::span<const LongValueRowFacts> rows;
            LongValuePageFacts readNow;
            if (facts && facts->rowsKept) {
                rows = std::span<const LongValueRowFacts>(plan_.longValuePages->rows).subspan(facts->firstRow, facts->rowCount);
            } else {
                PageRef ref = readPage(p.page);
                if (!ref) break;
                lvRowScratch_.clear();
                readNow = longValuePageFactsOf(*ref, layout_, lvRowScratch_, 256);
                facts = &readNow;
                rows = lvRowScratch_;
            }
            const LongValueRowFacts row = p.row < rows.size() ? rows[p.row] : LongValueRowFacts{};
            if (!facts->lval) {
                damage("long_value_page_owner", what() + " está na página " + pageText(p.page) +
                                                    ", que não é de valores longos",
                       pn, r);
                break;
            }
            if (!facts->readable || p.row >= facts->rowCount || row.size == LongValueRowFacts::kUnreadable) {
                damage("long_value_unreadable", what() + ": a linha " + std::to_string(p.row) + " da página " +
                                                    pageText(p.page) + " não existe",
                       pn, r);
                break;
            }
            segments.push_back(p);
            if (!chain) {
                if (row.size < d.length)
                    damage("long_value_unreadable", what() + ": a linha é menor que o valor", pn, r);
                break;
            }
            if (row.size < 4) {
                damage("long_value_unreadable", what() + ": linha da cadeia sem ponteiro", pn, r);
                break;
            }
            carried += row.size - 4;
            if (carried >= d.length) break;
            p = RowPointer::fromDescriptor(row.next);
        }
    }
    const std::uint32_t claimant = plan_.longValueClaimants->at(c.number);
    const auto mapIt = plan_.longValueMaps->find(c.number);
    for (const RowPointer& s : segments) {
        out_->longValueUses.push_back({s, at});
        if (mapIt != plan_.longValueMaps->end() && mapIt->second && !mapIt->second->contains(s.page))
            damage("long_value_page_unmapped", "a página " + pageText(s.page) + " do valor longo da coluna " +
                                                   c.name + " não está no mapa da coluna",
                   pn, r);
        claim(s.page, claimant);
    }
}

RowScanHelper::RowScanHelper(const PageFile& file, const FormatLayout& layout, std::uint16_t databaseCodePage)
    : layout_(layout) {
    thread_ = std::thread(&RowScanHelper::work, this, file.path(), file.pageSize(), file.databaseKey(), databaseCodePage);
}

RowScanHelper::~RowScanHelper() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void RowScanHelper::join(SharedRowScan& scan) {
    {
        std::lock_guard lock(mutex_);
        if (noFile_ || scan_) return;
        scan_ = &scan;
        begun_ = false;
        spareDry_ = false;
    }
    changed_.notify_all();
}

bool RowScanHelper::post(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return false;
        jobs_.push_back(std::move(job));
        spareDry_ = false;
    }
    changed_.notify_all();
    return true;
}

void RowScanHelper::setSpareWork(std::function<bool(PageFile&)> work) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !spareRunning_; });
        spareWork_ = std::move(work);
        spareDry_ = false;
    }
    changed_.notify_all();
}

void RowScanHelper::leave(SharedRowScan& scan) {
    std::unique_lock lock(mutex_);
    if (scan_ == &scan && !begun_) scan_ = nullptr;  // never begun: nothing to wait for
    changed_.wait(lock, [&] { return scan_ != &scan; });
}

void RowScanHelper::work(std::string path, std::size_t pageSize, std::uint32_t databaseKey, std::uint16_t codePage) {
    std::unique_ptr<PageFile> file;
    std::unique_ptr<ValueDecoder> values;
    try {
        // Data pages are read once, in order: a small cache serves the runs read.
        file = std::make_unique<PageFile>(path, 2 * PageFile::kMaxRun);
        file->configure(pageSize, databaseKey);
        values = std::make_unique<ValueDecoder>(*file, layout_, codePage);
    } catch (...) {
        file.reset();  // no chunk is begun here: the callers scan them all
    }
    std::unique_lock lock(mutex_);
    if (!file) {
        noFile_ = true;
        scan_ = nullptr;
        changed_.notify_all();
    }
    for (;;) {
        // A scan first (the check waits for its chunks in turn), then jobs, then
        // spare work.
        changed_.wait(lock, [&] {
            return stopping_ || (file && scan_ && !begun_) || !jobs_.empty() || (file && spareWork_ && !spareDry_);
        });
        if (stopping_) return;
        if (file && scan_ && !begun_) {
            SharedRowScan* scan = scan_;
            begun_ = true;
            lock.unlock();
            scan->help(*file, *values);
            lock.lock();
            scan_ = nullptr;
        } else if (!jobs_.empty()) {
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        } else {
            spareRunning_ = true;
            lock.unlock();
            bool did = false;
            try {
                did = spareWork_(*file);
            } catch (...) {
                // Spare work is only ever done ahead of need: whoever needs it does it.
            }
            lock.lock();
            spareRunning_ = false;
            if (!did) spareDry_ = true;
        }
        changed_.notify_all();
    }
}

SharedRowScan::SharedRowScan(const RowCheckPlan& plan, std::span<const PageNumber> pages, std::size_t chunkPages,
                             RowScanHelper* helper)
    : plan_(plan),
      pages_(pages),
      chunkPages_(std::max<std::size_t>(chunkPages, 1)),
      helper_(helper),
      chunks_((pages.size() + chunkPages_ - 1) / chunkPages_) {
    if (helper_) helper_->join(*this);
}

SharedRowScan::~SharedRowScan() {
    stopping_ = true;
    if (helper_) helper_->leave(*this);
}

std::optional<std::size_t> SharedRowScan::claim() {
    if (stopping_) return std::nullopt;
    const std::size_t c = next_.fetch_add(1);
    if (c >= chunks_.size()) return std::nullopt;
    std::lock_guard lock(mutex_);
    chunks_[c].state = State::Scanning;
    return c;
}

void SharedRowScan::scanChunk(std::size_t chunk, RowScanner& scanner, PageFile& file) {
    RowScan& scan = chunks_[chunk].scan;
    scan.clear();
    const std::span<const PageNumber> some = pagesOf(chunk);
    const PlannedReads planned(file, some);  // known pages: read a cluster at a time
    // A page that throws stops the check of the table only if it is taken: a page
    // another structure claimed first is skipped and the rows go on.
    for (PageNumber p : some) scanner.scanPage(p, scan);
}

std::span<const PageNumber> SharedRowScan::pagesOf(std::size_t chunk) const {
    const std::size_t from = chunk * chunkPages_;
    return pages_.subspan(from, std::min(chunkPages_, pages_.size() - from));
}

void SharedRowScan::run(RowScanner& here, PageFile& file, const std::function<void(const RowScan&)>& take) {
    const auto scanHere = [&](std::size_t c) {
        scanChunk(c, here, file);
        std::lock_guard lock(mutex_);
        chunks_[c].state = State::Done;
    };
    try {
        for (std::size_t c = 0; c < chunks_.size(); ++c) {
            for (;;) {
                std::unique_lock lock(mutex_);
                if (chunks_[c].state == State::Done) break;
                if (chunks_[c].state == State::Failed) {
                    lock.unlock();
                    scanHere(c);
                    break;
                }
                lock.unlock();
                // Rather than wait for the chunk the thread is on, scan the next
                // chunk nobody has begun; wait only when there is none.
                if (const std::optional<std::size_t> other = claim()) {
                    scanHere(*other);
                    continue;
                }
                lock.lock();
                done_.wait(lock, [&] { return chunks_[c].state == State::Done || chunks_[c].state == State::Failed; });
            }
            take(chunks_[c].scan);
            chunks_[c].scan = RowScan{};  // what was taken is needed no more
        }
    } catch (...) {
        stopping_ = true;
        throw;
    }
}

void SharedRowScan::help(PageFile& file, ValueDecoder& values) {
    RowScanner scanner(plan_, file, values);
    while (const std::optional<std::size_t> c = claim()) {
        State end = State::Done;
        try {
            scanChunk(*c, scanner, file);
        } catch (...) {
            end = State::Failed;  // out of memory, say: the caller scans the chunk again
        }
        {
            std::lock_guard lock(mutex_);
            chunks_[*c].state = end;
        }
        done_.notify_all();
        if (end == State::Failed) return;
    }
}

}  // namespace jet
