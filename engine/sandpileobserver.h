#pragma once

// What a view hears of the pile as it changes. The model calls these
// statically (observers are template arguments), so an observer that
// overrides nothing costs nothing.
struct SandpileObserver
{
    // A site lost four grains and now holds height.
    void toppled(int /*site*/, int /*height*/) {}
    // A site gained one grain, dropped on it or given by a neighbour.
    void received(int /*site*/, int /*height*/) {}
    // A site burnt in the burning test.
    void burnt(int /*site*/) {}
};
