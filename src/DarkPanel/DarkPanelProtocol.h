#pragma once
// Whoever wants a dark panel's mouse movements while the pointer is over it.

class DarkPanel;
class QMouseEvent;

class DarkPanelProtocol {
public:
    // event as the panel received it: its position is in the panel's coordinates.
    virtual void darkPanelWindowDidMouseMove(DarkPanel* panel, QMouseEvent* event) = 0;

protected:
    ~DarkPanelProtocol() = default;
};
