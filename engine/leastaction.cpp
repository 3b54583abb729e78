#include "leastaction.h"

#include <algorithm>
#include <limits>
#include <atomic>
#include <mutex>
#include <numeric>

namespace {

constexpr std::int64_t POPS_BETWEEN_POLLS = 1 << 12;   // between looks at whether the team abandoned the task
// Grains a band gives others before it stops to post them: what the bands
// hold for each other stays small, and arrives while there is work for it.
constexpr std::size_t GRAINS_A_POST = 1 << 12;
// Burning passes after which an unburnt set is untoppled more than once.
constexpr int DEEP_PASSES = 4;

} // namespace

LeastAction::LeastAction(const FoldedLattice &lattice)
    : geometry(lattice)
    , narrow(new Narrow[lattice.cells()])   // uninitialised: untouched tails cost nothing
{
    forEachCell([&](std::uint32_t cell) { narrow[cell] = {0, 0}; });
}

std::size_t LeastAction::bytesFor(const FoldedLattice &lattice, bool wide)
{
    return lattice.residentBytes(wide ? sizeof(Wide) : sizeof(Narrow));
}

void LeastAction::widen()
{
    if (wide)
        return;
    wide.reset(new Wide[geometry.cells()]);
    forEachCell([&](std::uint32_t cell) { wide[cell] = {narrow[cell].height, narrow[cell].odometer}; });
    narrow.reset();
}

void LeastAction::setHeightOf(std::uint32_t cell, std::int64_t grains)
{
    if (!holds(grains))
        widen();
    onSites([&](auto *sites) { sites[cell].height = decltype(sites->height)(grains); });
}

void LeastAction::setOdometer(int x, int y, std::int64_t topplings)
{
    if (!holds(topplings))
        widen();
    onSites([&](auto *sites) { sites[geometry.index(x, y)].odometer = decltype(sites->odometer)(topplings); });
}

template <typename Visit>
void LeastAction::forEachCell(Visit visit) const
{
    for (int y = -1; y <= geometry.height(); ++y)
        for (std::uint32_t cell = geometry.index(-1, y), end = cell + std::uint32_t(geometry.width() + 2); cell < end; ++cell)
            visit(cell);
}

template <typename Visit>
void LeastAction::forEachSite(Visit visit) const
{
    for (int y = 0; y < geometry.height(); ++y)
        for (std::uint32_t cell = geometry.index(0, y), end = cell + std::uint32_t(geometry.width()); cell < end; ++cell)
            visit(cell);
}

// The sites a toppling of `cell` gives grains to, with the grains each takes.
template <typename Visit>
static inline void forEachNeighbour(const FoldedLattice &lattice, std::uint32_t cell, Visit visit)
{
    if (lattice.plain(cell)) {
        const std::uint32_t row = lattice.stride();
        visit(cell - row, 1);
        visit(cell + 1, 1);
        visit(cell + row, 1);
        visit(cell - 1, 1);
    } else {
        lattice.forEachNeighbour(cell, visit);
    }
}

// count += amount, or false and count untouched where it would not hold the sum.
template <typename Count>
bool LeastAction::add(Count &count, std::int64_t amount)
{
    const std::int64_t sum = std::int64_t(count) + amount;
    if (!fits<Count>(sum))
        return false;
    count = Count(sum);
    return true;
}

void LeastAction::give(std::uint32_t cell, std::int64_t times)
{
    const bool given = onSites([&](auto *sites) {
        using Count = decltype(sites->height);
        // Every height checked before any changes: a pile that cannot hold
        // them is widened whole.
        bool held = fits<Count>(sites[cell].height - 4 * times);
        forEachNeighbour(geometry, cell, [&](std::uint32_t to, int grains) { held = held && fits<Count>(sites[to].height + grains * times); });
        if (!held)
            return false;
        sites[cell].height = Count(sites[cell].height - 4 * times);
        forEachNeighbour(geometry, cell, [&](std::uint32_t to, int grains) { sites[to].height = Count(sites[to].height + grains * times); });
        return true;
    });
    if (!given) {
        widen();
        give(cell, times);
    }
}

std::int64_t LeastAction::received(std::uint32_t cell) const
{
    const std::uint32_t row = geometry.stride();
    if (geometry.plain(cell))
        return at(cell - row).odometer + at(cell + 1).odometer + at(cell + row).odometer + at(cell - 1).odometer;
    std::int64_t grains = 0;   // from the sites around and, across a fold, from itself
    for (const std::uint32_t from : {cell - row, cell - 1, cell, cell + 1, cell + row})
        if (const std::int64_t topplings = at(from).odometer; topplings != 0)
            geometry.forEachNeighbour(from, [&](std::uint32_t to, int given) {
                if (to == cell)
                    grains += given * topplings;
            });
    return grains;
}

void LeastAction::applyOdometer()
{
    // Each height from the odometer alone, so that only the heights laid,
    // not those on the way, need to fit.
    forEachSite([&](std::uint32_t cell) {
        setHeightOf(cell, at(cell).height + received(cell) - 4 * at(cell).odometer);
    });
}

// A site is unstable upwards at 4 grains or more, downwards below 0.
template <bool up>
static bool unstable(std::int64_t height)
{
    return up ? height >= 4 : height < 0;
}

// A stretch of whole rows, relaxed by one thread. Its stack holds its sites
// that are unstable or were when pushed: a site is pushed when it becomes
// unstable, so it is on a stack at most once. Grains it gives to another
// band's rows wait in its outbox, then are posted to that band's inbox.
struct alignas(64) LeastAction::Band {   // cache lines of its own: no false sharing
    using Grains = std::vector<std::pair<std::uint32_t, std::int64_t>>;
    std::uint32_t first = 0, end = 0;   // its cells
    std::vector<std::uint32_t> stack;
    Grains outbox;
    std::int64_t pops = 0;
    Grains arrived;   // the last inbox taken, kept for its room
    // Set when a narrow pile could not hold a count: the band stops, with
    // the grains it could not give in `unheld`.
    bool outgrown = false;
    Grains unheld;
    // Out of line: the toppling loop that calls it stays small.
    [[gnu::noinline]] void outgrow(std::uint32_t cell, std::int64_t grains)
    {
        unheld.emplace_back(cell, grains);
        outgrown = true;
    }
    // Guarded by `posting`: the grains other bands gave it, in `batches` posts.
    alignas(64) std::mutex posting;   // away from what only its owner touches
    Grains inbox;
    std::int64_t batches = 0;
};

template <LeastAction::Direction direction, typename Count>
void LeastAction::relaxBand(Site<Count> *const site, Band &band, const ThreadTeam &team)
{
    constexpr bool up = direction == Direction::Topple;
    // A copy of its own: the compiler need not read it again after each store of a count.
    const FoldedLattice lattice = geometry;
    const std::uint32_t row = lattice.stride();
    while (!band.stack.empty()) {
        const std::uint32_t cell = band.stack.back();
        band.stack.pop_back();
        const std::int64_t height = site[cell].height;
        if (!unstable<up>(height))
            continue;
        // All the topplings due at once: floor(h / 4), or ceil(-h / 4)
        // untopplings, which the odometer holds (a site below 0 toppled at
        // least that often, since it had at least 0 grains before it did).
        const std::int64_t times = up ? height >> 2 : (3 - height) >> 2;
        const std::int64_t given = up ? times : -times;
        if (!add(site[cell].odometer, given)) [[unlikely]] {
            band.outgrow(cell, 0);   // still unstable: the wide relaxation finds it
            return;
        }
        site[cell].height = Count(height - 4 * given);
        // Inlined (the compiler would not): four calls a toppling cost more than the toppling.
        const auto receive = [&](std::uint32_t to, std::int64_t grains) __attribute__((always_inline)) {
            const std::int64_t before = site[to].height;
            if (!add(site[to].height, grains)) [[unlikely]]
                band.outgrow(to, grains);
            else if (!unstable<up>(before) && unstable<up>(before + grains))
                band.stack.push_back(to);
        };
        if (lattice.plain(cell) && cell >= band.first + row && cell + row < band.end) {
            // Almost every toppling: four neighbours, all in the band.
            receive(cell - row, given);
            receive(cell + 1, given);
            receive(cell + row, given);
            receive(cell - 1, given);
        } else {
            lattice.forEachNeighbour(cell, [&](std::uint32_t to, int grains) {
                if (to < band.first || to >= band.end)
                    band.outbox.emplace_back(to, grains * given);
                else
                    receive(to, grains * given);
            });
        }
        if ((++band.pops % POPS_BETWEEN_POLLS == 0 && team.abandoned()) || band.outbox.size() >= GRAINS_A_POST
            || band.outgrown)
            return;
    }
}

// One entry a cell, in order of cells, so that each band's share is a stretch.
static void sumByCell(std::vector<std::pair<std::uint32_t, std::int64_t>> &grains)
{
    if (grains.empty())
        return;
    std::sort(grains.begin(), grains.end());
    auto last = grains.begin();
    for (auto next = last + 1; next != grains.end(); ++next) {
        if (next->first == last->first)
            last->second += next->second;
        else
            *++last = *next;
    }
    grains.erase(last + 1, grains.end());
}

template <LeastAction::Direction direction>
std::int64_t LeastAction::relax(ThreadTeam &team)
{
    std::int64_t pops = 0;
    std::vector<std::pair<std::uint32_t, std::int64_t>> unheld;
    if (narrow && relaxOn<direction>(narrow.get(), team, pops, unheld))
        return pops;
    if (narrow) {
        widen();
        for (const auto &[cell, grains] : unheld)
            wide[cell].height += grains;
        unheld.clear();
    }
    relaxOn<direction>(wide.get(), team, pops, unheld);   // wide: it holds every count
    return pops;
}

template <LeastAction::Direction direction, typename Count>
bool LeastAction::relaxOn(Site<Count> *const sites, ThreadTeam &team, std::int64_t &pops,
                          std::vector<std::pair<std::uint32_t, std::int64_t>> &unheld)
{
    constexpr bool up = direction == Direction::Topple;
    const int rows = geometry.height();
    // A whole number of bands a member, so that each has an equal share.
    const int bandsThereAre = bandsFor(rows);
    const int count = bandsThereAre < team.size() ? bandsThereAre
                                                   : team.size() * std::min(BANDS_A_MEMBER, bandsThereAre / team.size());
    // Bands of about equal work: the work lies where sites toppled (for a
    // pile folded onto its mirror lines, where it is widest). Each member
    // takes every size()-th band, so that work that varies smoothly over the
    // rows is shared evenly.
    std::vector<std::int64_t> work(std::size_t(rows) + 1, 0);   // before each row, once summed
    team.forEachBlock(rows, [&](std::int64_t low, std::int64_t high) {
        for (std::int64_t y = low; y < high && !team.abandoned(); ++y) {
            const Site<Count> *row = sites + geometry.index(0, int(y));
            work[y + 1] = 1 + std::count_if(row, row + geometry.width(), [](const Site<Count> &site) { return site.odometer > 0; });
        }
    });
    std::partial_sum(work.begin(), work.end(), work.begin());
    const std::unique_ptr<Band[]> bands(new Band[count]);
    std::vector<int> firstRow(count + 1, rows);
    for (int b = 0; b < count; ++b) {
        const auto rowWith = [&](int share) {
            return int(std::lower_bound(work.begin(), work.end(), work.back() * share / count) - work.begin());
        };
        firstRow[b] = b == 0 ? 0 : rowWith(b);
        Band &band = bands[b];
        band.first = b == 0 ? 0 : geometry.index(-1, firstRow[b]);
        band.end = b + 1 == count ? std::uint32_t(geometry.cells()) : geometry.index(-1, rowWith(b + 1));
        band.batches = 1;   // its first relaxation
    }
    const auto bandOf = [&](std::uint32_t cell) -> Band & {
        return *std::upper_bound(bands.get(), bands.get() + count, cell, [](std::uint32_t c, const Band &band) { return c < band.end; });
    };
    // The bands relax side by side, each on its owner's thread, and post the
    // grains they give each other as they go; a band relaxes again when some
    // arrive. The stable pile does not depend on the order of topplings.
    // `unsettled` counts the posts not yet relaxed: a band adds its own
    // before it takes away those it relaxed, so it reaches 0 only when every
    // band is stable and nothing is on its way. A member with nothing to do
    // sleeps until `mail` changes: at each post, when nothing is unsettled,
    // and when a member leaves (abandoned, or thrown out).
    std::atomic<std::int64_t> unsettled{count};
    std::atomic<std::uint32_t> mail{0};
    std::atomic<bool> outgrown{false};   // a band's counts did: all stop
    const auto ring = [&] {
        mail.fetch_add(1, std::memory_order_release);
        mail.notify_all();
    };
    const auto post = [&](Band &to, const auto &first, const auto &past) {
        unsettled.fetch_add(1, std::memory_order_relaxed);
        {
            const std::lock_guard<std::mutex> lock(to.posting);
            to.inbox.insert(to.inbox.end(), first, past);
            ++to.batches;
        }
        ring();
    };
    const auto settle = [&](Band &band) {   // one round of a band's work, false if it had none
        std::int64_t batches = 0;
        {
            const std::lock_guard<std::mutex> lock(band.posting);
            std::swap(batches, band.batches);
            band.arrived.swap(band.inbox);
        }
        if (batches == 0)
            return false;
        for (const auto &[cell, grains] : band.arrived) {
            const std::int64_t before = sites[cell].height;
            if (!add(sites[cell].height, grains))
                band.outgrow(cell, grains);
            else if (!unstable<up>(before) && unstable<up>(before + grains))
                band.stack.push_back(cell);
        }
        band.arrived.clear();
        if (!band.outgrown)
            relaxBand<direction>(sites, band, team);
        if (band.outgrown) {
            outgrown.store(true, std::memory_order_relaxed);
            ring();
        }
        if (!band.stack.empty())   // it stopped to post: a post to itself brings it back
            post(band, band.outbox.end(), band.outbox.end());
        sumByCell(band.outbox);
        for (auto from = band.outbox.begin(); from != band.outbox.end();) {
            Band &to = bandOf(from->first);
            const auto past = std::find_if(from, band.outbox.end(), [&](const auto &grains) { return grains.first >= to.end; });
            post(to, from, past);
            from = past;
        }
        band.outbox.clear();
        if (unsettled.fetch_sub(batches, std::memory_order_acq_rel) == batches)
            ring();
        return true;
    };
    team.run([&](int member) {
        if (member >= count)
            return;   // no band of its own
        // Wakes the others when it leaves, after a throw is recorded as
        // the team's: their work may have waited on its.
        struct Leaving {
            decltype(ring) &wake;
            ~Leaving() { wake(); }
        } leaving{ring};
        try {
            for (int b = member; b < count; b += team.size())
                for (int y = firstRow[b]; y < firstRow[b + 1] && !team.abandoned(); ++y)
                    for (std::uint32_t cell = geometry.index(0, y), end = cell + std::uint32_t(geometry.width()); cell < end; ++cell)
                        if (unstable<up>(sites[cell].height))
                            bands[b].stack.push_back(cell);
            for (;;) {
                // The mail first: what changed after it wakes the wait below.
                const std::uint32_t seen = mail.load(std::memory_order_acquire);
                if (team.abandoned() || outgrown.load(std::memory_order_relaxed)
                    || unsettled.load(std::memory_order_acquire) == 0)
                    return;
                bool settled = false;
                for (int b = member; b < count && !outgrown.load(std::memory_order_relaxed); b += team.size())
                    settled |= settle(bands[b]);
                if (!settled)
                    mail.wait(seen, std::memory_order_acquire);
            }
        } catch (...) {
            team.fail(std::current_exception());
        }
    });
    for (int b = 0; b < count; ++b)
        pops += bands[b].pops;
    if (!outgrown)
        return true;
    // What no band has given yet: its own leftovers, and what others posted it.
    for (int b = 0; b < count; ++b) {
        unheld.insert(unheld.end(), bands[b].unheld.begin(), bands[b].unheld.end());
        unheld.insert(unheld.end(), bands[b].inbox.begin(), bands[b].inbox.end());
    }
    return false;
}

template <typename Count>
std::vector<std::uint32_t> LeastAction::unburnt(const Site<Count> *const sites, std::vector<std::uint32_t> &queue,
                                                const ThreadTeam &team) const
{
    // need: the grains a toppling of its toppled neighbours that have not
    // burnt would give a site, less its height; a site burns at 0 or less
    // (a fold gives a site the grains of a neighbour and of its image).
    // Edge cells and sites that never toppled count as burnt from the start.
    constexpr std::int8_t BURNT = std::numeric_limits<std::int8_t>::min();
    const std::unique_ptr<std::int8_t[]> need(new std::int8_t[geometry.cells()]);
    for (int y = -1; y <= geometry.height(); ++y)
        for (int x = -1; x <= geometry.width(); ++x)
            need[geometry.index(x, y)] = 0;
    for (int y = 0; y < geometry.height(); ++y) {
        if (team.abandoned())
            return {};
        for (std::uint32_t cell = geometry.index(0, y), end = cell + std::uint32_t(geometry.width()); cell < end; ++cell)
            if (sites[cell].odometer > 0)
                forEachNeighbour(geometry, cell, [&](std::uint32_t to, int grains) { need[to] = std::int8_t(need[to] + grains); });
    }
    for (int y = -1; y <= geometry.height(); ++y)
        for (int x = -1; x <= geometry.width(); ++x) {
            const std::uint32_t cell = geometry.index(x, y);
            if (x < 0 || y < 0 || x == geometry.width() || y == geometry.height() || sites[cell].odometer == 0) {
                need[cell] = BURNT;
                continue;
            }
            // A stable pile: 0 <= s <= 3, and at most 4 grains come in, so need fits a byte.
            need[cell] = std::int8_t(need[cell] - sites[cell].height);
            if (need[cell] <= 0) {
                need[cell] = BURNT;
                queue.push_back(cell);
            }
        }
    for (std::int64_t burnt = 0; !queue.empty(); ++burnt) {
        if (burnt % POPS_BETWEEN_POLLS == 0 && team.abandoned())
            return {};
        const std::uint32_t cell = queue.back();
        queue.pop_back();
        forEachNeighbour(geometry, cell, [&](std::uint32_t to, int grains) {
            if (need[to] == BURNT)
                return;
            need[to] = std::int8_t(need[to] - grains);
            if (need[to] <= 0) {
                need[to] = BURNT;
                queue.push_back(to);
            }
        });
    }
    std::vector<std::uint32_t> left;
    forEachSite([&](std::uint32_t cell) {
        if (need[cell] != BURNT)
            left.push_back(cell);
    });
    return left;
}

LeastAction::Work LeastAction::stabilise(const Stop &stop, int threads)
{
    ThreadTeam team(threads, stop);
    return stabilise(team);
}

LeastAction::Work LeastAction::stabilise(ThreadTeam &team)
{
    Work work;
    work.untopplings += relax<Direction::Untopple>(team);
    work.topplings += relax<Direction::Topple>(team);
    std::vector<std::uint32_t> queue, left;
    for (;;) {
        ++work.burningPasses;
        // On one member, so that the caller's thread keeps watching for a stop.
        team.run([&](int member) {
            if (member == 0)
                left = onSites([&](const auto *sites) { return unburnt(sites, queue, team); });   // empty if abandoned, when run() throws
        });
        if (left.empty())
            return work;
        // Untopple the unburnt set, all its sites together: once, which keeps
        // u at least the least odometer, or, once passes have shown the
        // excess to be deep, as many times as passes so far, and topple
        // again. That lands at most one untoppling of the set above where
        // a single one would (least action again), so it is never worse,
        // and it takes an excess of depth d in about sqrt(2 d) passes.
        // (Doubling the step instead overshoots: each deficit it leaves
        // costs topplings all over the set.)
        const std::int64_t times = work.burningPasses < DEEP_PASSES ? 1 : work.burningPasses;
        for (const std::uint32_t cell : left) {
            const std::int64_t untopplings = std::min(times, at(cell).odometer);
            give(cell, -untopplings);
            onSites([&](auto *sites) { sites[cell].odometer -= decltype(sites->odometer)(untopplings); });
        }
        work.untopplings += relax<Direction::Untopple>(team);
        if (times > 1)
            work.topplings += relax<Direction::Topple>(team);
    }
}
