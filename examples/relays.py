import rxb540

for board in rxb540.list_boards():        # [BoardInfo(serial='1700000001', path='/dev/hidraw3'), ...]
    print(board.serial, board.path)

with rxb540.open("1700000002") as board:   # a serial, "ANY", or rxb540.open(path="/dev/hidraw3")
    board.set_state(0b0101)                # relays 1 and 3 on, the others off
    board.set_relay(2, True)               # relay n is bit n-1 of the state
    print(board.state)                     # 7: the last state written through this object
