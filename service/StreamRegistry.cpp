#include "service/StreamRegistry.h"

#include <map>
#include <mutex>

namespace StreamRegistry {
namespace {

struct Table {
  std::mutex mutex;
  std::map<std::string, Factory> factories;
};

Table& GetTable() {
  static Table table;
  return table;
}

}  // namespace

void Register(const std::string& type, Factory factory) {
  Table& table = GetTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.factories[type] = std::move(factory);
}

StreamBase* Create(const std::string& type, const std::string& name, StreamDef* def) {
  Factory factory;
  {
    Table& table = GetTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.factories.find(type);
    if (it == table.factories.end()) return nullptr;
    factory = it->second;
  }
  return factory(name, def);
}

}  // namespace StreamRegistry
