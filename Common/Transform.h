#pragma once
// Base of every game object and of the world root.
//
// The shared library is compiled into both programs, and Transform is where the two builds
// differ. Every difference is in the two marked blocks below:
//  - client build: applyNetworkState, virtual so that a ship can take a server sample its own
//    way (client/Player.cpp); the base is defined in client/ClientTransform.cpp;
//  - server build (MORVIK_SERVER_BUILD): the send-state fields timeSinceSend, networked and
//    teleport, the server's constructors, and an update() that applies the send rule before
//    the prediction step; defined in Server/ServerTransform.cpp.
// The constructors, init() and update() are defined per build in those two files; everything
// else, the network-sample prediction included, is shared (Transform.cpp).

#include <cstdint>
#include <list>

#include "Common/Quaternion.h"
#include "Common/Vec3.h"

class Transform {
public:
    virtual ~Transform();
    virtual void draw();
    // Client: the prediction step. Server: the send rule, then the prediction step.
    virtual void update(float dt);
    virtual std::int64_t getKey();
    virtual void* getConnectionKey();

    Transform();  // id 0: the root and the carriers

#ifndef MORVIK_SERVER_BUILD
    // ---- client build ----
    explicit Transform(std::uint64_t id);
    virtual void applyNetworkState(std::uint32_t timestamp, const Vec3& position,
                                   const Quaternion& orientation, bool first);
#else
    // ---- server build ----
    Transform(int serverId, std::uint32_t counter);
    // One ObjectUpdate to every player; records the sent state as a sample.
    void sendUpdate();
#endif

    void init();
    void addNetworkSample(std::uint32_t timestamp, const Vec3& position,
                          const Quaternion& orientation, bool first);
    // The prediction step shared by both builds: blend for 0.5 s, then dead-reckon.
    void advancePrediction(float dt);
    // Depth first, a parent before its children.
    void updateAll(float dt);
    void deleteChildren();

    std::int32_t objectType;  // one of Common/ObjectTypes.h
    Transform* parent;
    std::list<Transform*> children;
    std::uint64_t id;
    Vec3 position;
    Vec3 scale;
    Quaternion orientation;
    Vec3 velocity;
    Vec3 sampleVelocity;
    Vec3 previousSampleVelocity;
    Vec3 extrapolationVelocity;
    Vec3 sampleAcceleration;
    Vec3 shownPosition;
    Vec3 sampleError;
    Vec3 blendStart;
    float timeSinceSample;
    Quaternion shownOrientation;
#ifdef MORVIK_SERVER_BUILD
    // ---- server build: send state ----
    float timeSinceSend;
    bool networked;
    bool teleport;
#endif
    std::uint32_t sampleTimes[3];  // index 0 is the newest
    Vec3 samplePositions[3];
    Quaternion sampleOrientations[3];
};
