"""A test of a rig through the fixture rxb540_board of the rxb540 package's pytest plugin."""


def test_relay_one_switches_on(rxb540_board):
    rxb540_board.set_state(0)
    rxb540_board.set_relay(1, True)
    assert rxb540_board.state == 0b0001
