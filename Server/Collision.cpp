#include "Server/Collision.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

float dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

bool sphereAgainstSegment(CollisionObject* round, CollisionObject* line) {
    // The segment's direction lives in object space; turn it with the object.
    const Vec3 direction = line->orientation.rotate(line->localDirection);
    return sphereSegment(*round->sphere->centre, round->sphere->radius, *line->segment->start,
                         direction);
}

// One object of the pass's second list, with a copy of its sphere's centre.
struct Candidate {
    CollisionObject* object = nullptr;
    float x = 0, y = 0, z = 0, radius = 0;
    bool sphere = false;
};

// The second list's spheres by cell of a coarse grid, so that a ship is tested only against
// the shots near it instead of every shot in flight. The grid only narrows down which pairs
// are tested; each pair it offers is still judged by the exact rule, in list order.
class Grid {
public:
    // Beyond this distance from the origin float spacing is too coarse for the cell margin,
    // and such objects (or non-finite ones) are simply offered to everyone.
    static constexpr float kLimit = 1.0e6f;
    static constexpr float kCell = 16.0f;
    // Covers rounding in the cell arithmetic and in the squared-distance test.
    static constexpr float kMargin = 1.0f;

    void build(const std::vector<Candidate>& candidates) {
        filed_.clear();
        everywhere_.clear();
        maxRadius_ = 0.0f;
        for (std::uint32_t j = 0; j < candidates.size(); ++j) {
            const Candidate& c = candidates[j];
            if (c.object == nullptr) {
                continue;
            }
            if (!gridded(c.sphere, c.x, c.y, c.z)) {
                everywhere_.push_back(j);
                continue;
            }
            maxRadius_ = std::max(maxRadius_, c.radius);
            filed_.push_back(Filed{key(cell(c.x), cell(c.y), cell(c.z)), j});
        }
        // By cell, and within a cell in list order.
        std::sort(filed_.begin(), filed_.end(), [](const Filed& l, const Filed& r) {
            return l.key != r.key ? l.key < r.key : l.index < r.index;
        });
    }

    // The indices from `after` on (ascending) that a sphere at centre with radius may touch.
    void near(bool sphere, const Vec3& centre, float radius, std::uint32_t after,
              std::uint32_t count, std::vector<std::uint32_t>& out) const {
        out.clear();
        if (!gridded(sphere, centre.x, centre.y, centre.z) || !(radius < kLimit)) {
            for (std::uint32_t j = after; j < count; ++j) {
                out.push_back(j);
            }
            return;
        }
        const float reach = radius + maxRadius_ + kMargin;
        for (std::int64_t ix = cell(centre.x - reach); ix <= cell(centre.x + reach); ++ix) {
            for (std::int64_t iy = cell(centre.y - reach); iy <= cell(centre.y + reach); ++iy) {
                const std::uint64_t low = key(ix, iy, cell(centre.z - reach));
                const std::uint64_t high = key(ix, iy, cell(centre.z + reach));
                // One run of the sorted cells covers the whole z range.
                auto it =
                    std::lower_bound(filed_.begin(), filed_.end(), low,
                                     [](const Filed& f, std::uint64_t k) { return f.key < k; });
                for (; it != filed_.end() && it->key <= high; ++it) {
                    if (it->index >= after) {
                        out.push_back(it->index);
                    }
                }
            }
        }
        for (const std::uint32_t j : everywhere_) {
            if (j >= after) {
                out.push_back(j);
            }
        }
        std::sort(out.begin(), out.end());
    }

private:
    struct Filed {
        std::uint64_t key;
        std::uint32_t index;
    };

    static bool gridded(bool sphere, float x, float y, float z) {
        // Written so that NaN fails too.
        return sphere && std::fabs(x) < kLimit && std::fabs(y) < kLimit && std::fabs(z) < kLimit;
    }
    static std::int64_t cell(float v) { return static_cast<std::int64_t>(std::floor(v / kCell)); }
    // z in the low bits, so that the cells of one (x, y) column are adjacent keys.
    static std::uint64_t key(std::int64_t x, std::int64_t y, std::int64_t z) {
        const auto part = [](std::int64_t v) { return static_cast<std::uint64_t>(v + (1 << 20)); };
        return (part(x) << 42) | (part(y) << 21) | part(z);
    }

    std::vector<Filed> filed_;
    std::vector<std::uint32_t> everywhere_;
    float maxRadius_ = 0.0f;
};

}  // namespace

void collideGroups(SceneGraph::ObjectList* a, SceneGraph::ObjectList* b) {
    if (a == nullptr || b == nullptr) {
        return;
    }
    // This pass runs every ship against every shot in flight. To keep it cheap, b's objects
    // are cast once and their sphere centres copied and filed in a grid; each of a's objects
    // is then offered only the objects of b near it, in b's order, and a pair the copy shows
    // apart is rejected with exactly the arithmetic of sphereSphere. A contact may move
    // objects (a kill respawns the ship), so after each one the copy is compared with the
    // live objects, the grid is rebuilt if anything of b moved, and the rest of b is offered
    // again from a's new place. Removals are deferred, so neither list changes during the pass.
    // Kept between passes (main thread only), so that a tick allocates nothing here.
    static std::vector<Candidate> others;
    static Grid grid;
    static std::vector<std::uint32_t> near;
    others.assign(b->size(), Candidate());
    for (std::size_t j = 0; j < b->size(); ++j) {
        others[j].object = dynamic_cast<CollisionObject*>((*b)[j]);
    }
    // Copies the live centres; true when any differed from the copy.
    const auto takeCentres = [&]() {
        bool changed = false;
        for (Candidate& other : others) {
            CollisionObject* o = other.object;
            const bool sphere =
                o != nullptr && o->shapeKind == kSphereShape && o->sphere != nullptr;
            if (sphere) {
                const Vec3& c = *o->sphere->centre;
                changed = changed || !other.sphere || std::memcmp(&other.x, &c.x, 4) != 0 ||
                          std::memcmp(&other.y, &c.y, 4) != 0 ||
                          std::memcmp(&other.z, &c.z, 4) != 0 ||
                          std::memcmp(&other.radius, &o->sphere->radius, 4) != 0;
                other.x = c.x;
                other.y = c.y;
                other.z = c.z;
                other.radius = o->sphere->radius;
            } else {
                changed = changed || other.sphere;
            }
            other.sphere = sphere;
        }
        return changed;
    };
    takeCentres();
    // Filing costs a sort of b; for a handful of objects in a (the carriers) plain offering
    // of everything is cheaper.
    const bool useGrid = a->size() >= 16;
    if (useGrid) {
        grid.build(others);
    }
    const auto count = static_cast<std::uint32_t>(others.size());

    for (std::size_t i = 0; i < a->size(); ++i) {
        auto* first = dynamic_cast<CollisionObject*>((*a)[i]);
        if (first == nullptr) {
            continue;
        }
        const auto offer = [&](std::uint32_t after) {
            const bool sphere = first->shapeKind == kSphereShape && first->sphere != nullptr;
            if (!useGrid) {
                near.clear();
                for (std::uint32_t j = after; j < count; ++j) {
                    near.push_back(j);
                }
                return;
            }
            grid.near(sphere, sphere ? *first->sphere->centre : first->position,
                      sphere ? first->sphere->radius : 0.0f, after, count, near);
        };
        offer(0);
        std::size_t k = 0;
        while (k < near.size()) {
            const std::uint32_t j = near[k++];
            const Candidate& other = others[j];
            if (other.object == nullptr) {
                continue;
            }
            if (other.sphere && first->shapeKind == kSphereShape && first->sphere != nullptr) {
                const Vec3& centre = *first->sphere->centre;
                const float dx = centre.x - other.x;
                const float dy = centre.y - other.y;
                const float dz = centre.z - other.z;
                const float reach = first->sphere->radius + other.radius;
                if (!(dx * dx + dy * dy + dz * dz <= reach * reach)) {
                    continue;
                }
            }
            if (!intersects(first, other.object)) {
                continue;
            }
            first->onCollision(other.object);
            other.object->onCollision(first);
            if (takeCentres() && useGrid) {
                grid.build(others);
            }
            offer(j + 1);
            k = 0;
        }
    }
}

bool intersects(CollisionObject* a, CollisionObject* b) {
    if (a->shapeKind == kSphereShape && b->shapeKind == kSphereShape && a->sphere != nullptr &&
        b->sphere != nullptr) {
        return sphereSphere(*a->sphere, *b->sphere);
    }
    if (a->shapeKind == kSphereShape && b->shapeKind == kSegmentShape && a->sphere != nullptr &&
        b->segment != nullptr) {
        return sphereAgainstSegment(a, b);
    }
    if (a->shapeKind == kSegmentShape && b->shapeKind == kSphereShape && a->segment != nullptr &&
        b->sphere != nullptr) {
        return sphereAgainstSegment(b, a);
    }
    return false;
}

bool sphereSphere(const SphereShape& a, const SphereShape& b) {
    const Vec3 d = *a.centre - *b.centre;
    const float reach = a.radius + b.radius;
    return d.x * d.x + d.y * d.y + d.z * d.z <= reach * reach;
}

bool sphereSegment(const Vec3& centre, float radius, const Vec3& start, const Vec3& direction) {
    // Closest point of the segment to the centre: project, then clamp to the segment's ends.
    const float lengthSquared = dot(direction, direction);
    float t = 0.0f;
    if (lengthSquared > 0.0f) {
        t = dot(centre - start, direction) / lengthSquared;
        if (t < 0.0f) {
            t = 0.0f;
        } else if (t > 1.0f) {
            t = 1.0f;
        }
    }
    const Vec3 offset = centre - (start + direction * t);
    return dot(offset, offset) <= radius * radius;
}
