#include "client/ObjectFactory.h"

#include "Common/ConsoleLog.h"
#include "Common/ObjectTypes.h"
#include "Common/SceneGraph.h"
#include "client/Billboard.h"

ObjectFactory* ObjectFactory::getInstance() {
    static ObjectFactory* instance = new ObjectFactory();
    return instance;
}

Transform* ObjectFactory::createType(int type) {
    if (type != kExplosionType) {
        consoleLog("Error creating type of %d", type);
        return nullptr;
    }
    ++counter;
    return new Billboard(static_cast<std::uint64_t>(static_cast<std::int64_t>(counter)));
}

void ObjectFactory::addToScene(Transform* object) {
    SceneGraph::getInstance()->add(object);
}
