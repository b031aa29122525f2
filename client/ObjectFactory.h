#pragma once

#include <cstdint>

class Transform;

// The client's factory: only explosions (type 2), with ids that never leave the client.
class ObjectFactory {
public:
    static ObjectFactory* getInstance();

    // A new Billboard for type 2; null (and a report) for any other type.
    Transform* createType(int type);
    void addToScene(Transform* object);

    // Incremented before each use: the first explosion gets id 2.
    std::int32_t counter = 1;

private:
    ObjectFactory() = default;
};
